#pragma once

#include <string>

#include "platform/xpc/peer.h"

// Whether a connecting client may be served: its running code is validly signed, unaltered and
// satisfies the requirement text (the last "SMAuthorizedClients" entry).
bool client_is_authorized(const platform::xpc_peer_t& peer, const std::string& requirement);
