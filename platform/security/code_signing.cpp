#include "platform/security/code_signing.h"

#include "platform/security/bundle.h"
#include "platform/security/bundle_validation.h"
#include "platform/security/guest_process.h"
#include "platform/security/trust_anchors.h"

namespace platform {

std::string SecCopyErrorMessageString(os_status_t status) {
  switch (status) {
    case errSecSuccess:
      return "No error.";
    case errSecCSReqFailed:
      return "code failed to satisfy specified code requirement(s)";
    case errSecCSBadResource:
      return "a sealed resource is missing or invalid";
    case errSecCSSignatureFailed:
      return "invalid signature (code or signature have been modified)";
    case errSecCSUnsigned:
      return "code object is not signed at all";
    case errSecCSGuestInvalid:
      return "the process was altered at run time";
    case errSecCSNoSuchCode:
      return "no such code exists";
    case errSecCSBadBundleFormat:
      return "bundle format unrecognized, invalid, or unsuitable";
    default:
      return "OSStatus " + std::to_string(status);
  }
}

std::optional<requirement_t> SecRequirementCreateWithString(std::string_view text) {
  return requirement_t::compile(text);
}

std::optional<guest_code_t> SecCodeCopyGuestWithAttributes(const peer_t& peer) {
  std::optional<process_ref_t> process = peer.duplicate();
  if (!process) return std::nullopt;
  unique_fd_t proc_directory = open_proc_directory(*process);
  if (!proc_directory) return std::nullopt;
  const std::optional<std::filesystem::path> path = executable_path(proc_directory.get());
  unique_fd_t executable = open_executable(proc_directory.get());
  if (!path || !executable) return std::nullopt;
  std::optional<std::filesystem::path> bundle = bundle_of_main_executable(*path);
  if (!bundle || !process->is_running()) return std::nullopt;
  return guest_code_t{std::move(*process), std::move(proc_directory), std::move(executable),
                      std::move(*bundle)};
}

os_status_t SecCodeCheckValidity(const guest_code_t& guest, const requirement_t& requirement) {
  return SecCodeCheckValidityWithAnchors(guest, requirement, kTrustAnchorDirectory);
}

os_status_t SecCodeCheckValidityWithAnchors(const guest_code_t& guest,
                                            const requirement_t& requirement,
                                            const std::filesystem::path& anchor_directory) {
  std::string reason;
  const os_status_t integrity =
      check_runtime_integrity(guest.proc_directory.get(), guest.executable.get(), reason);
  if (integrity != errSecSuccess) return integrity;
  const trust_anchors_t anchors = current_trust_anchors(anchor_directory);
  if (!anchors.store) return errSecCSSignatureFailed;
  const code_check_t check = check_bundle_code(guest.bundle, guest.executable.get(), &requirement,
                                               anchors.store.get(), anchors.generation);
  if (check.status != errSecSuccess) return check.status;
  // Whatever was read must still describe the process: it neither ended nor ran exec since.
  if (!still_executes(guest.proc_directory.get(), guest.executable.get()) ||
      !guest.process.is_running()) {
    return errSecCSNoSuchCode;
  }
  return errSecSuccess;
}

}  // namespace platform
