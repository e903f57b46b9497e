#pragma once

#include <string>

#include "platform/xpc/peer.h"

// Whether a connecting client may be served, given the requirement text of the information list.
bool client_is_authorized(const platform::xpc_peer_t& peer, const std::string& requirement);
