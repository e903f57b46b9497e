#include "service/client_validation.h"

#include "platform/security/code_signing.h"

namespace {

// The audit token here is the peer the kernel recorded at connect time; its pidfd keeps naming
// that process, so a pid taken over by another program after the client ended is not mistaken
// for the client.
std::optional<platform::guest_code_t> guest_of(const platform::xpc_peer_t& peer) {
  const auto process = platform::process_ref_t::of_pid_and_pidfd(peer.pid, peer.pidfd.get());
  if (!process) return std::nullopt;
  return platform::SecCodeCopyGuestWithAttributes(*process);
}

}  // namespace

std::optional<platform::guest_identity_t> authorized_client(const platform::xpc_peer_t& peer,
                                                            const std::string& requirement) {
  const auto guest = guest_of(peer);
  const auto compiled = platform::SecRequirementCreateWithString(requirement);
  if (!guest || !compiled) return std::nullopt;
  auto identity = platform::guest_identity_t::of(*guest);
  if (!identity || platform::SecCodeCheckValidity(*guest, *compiled) != platform::errSecSuccess ||
      identity->change()) {
    return std::nullopt;
  }
  return identity;
}

bool client_is_authorized(const platform::xpc_peer_t& peer, const std::string& requirement) {
  return authorized_client(peer, requirement).has_value();
}
