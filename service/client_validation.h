#pragma once

#include <optional>
#include <string>

#include "platform/security/guest_identity.h"
#include "platform/xpc/peer.h"

// A connecting client that may be served: its running code is validly signed, unaltered and
// satisfies the requirement text (the last "SMAuthorizedClients" entry). Its identity is what
// each of its later messages is checked against.
std::optional<platform::guest_identity_t> authorized_client(const platform::xpc_peer_t& peer,
                                                            const std::string& requirement);
bool client_is_authorized(const platform::xpc_peer_t& peer, const std::string& requirement);
