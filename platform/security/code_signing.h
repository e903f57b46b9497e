#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "platform/base/os_status.h"
#include "platform/base/unique_fd.h"
#include "platform/security/process_ref.h"
#include "platform/security/requirement.h"

// Code-signing checks of a connecting client.
//
// A client is the main executable of a bundle X.app/Contents/MacOS/<CFBundleExecutable>. Its
// signature, X.app/Contents/_CodeSignature/CodeSignature, is a DER CMS SignedData over a code
// directory that seals the signing identifier, the team identifier and the SHA-256 digests of the
// executable and of Contents/Info.plist. The signer's chain must lead to a trust anchor in
// /etc/codesign/anchors/*.pem. The executable that is hashed is the one the process runs, read
// through /proc/<pid>/exe, so replacing the file on disk after the start proves nothing.
namespace platform {

inline constexpr os_status_t errSecSuccess = 0;
// The code is validly signed but does not satisfy the requirement.
inline constexpr os_status_t errSecCSReqFailed = -67050;
// The executable or Info.plist differs from what was signed.
inline constexpr os_status_t errSecCSBadResource = -67054;
// The signature does not verify, or its chain does not lead to a trust anchor.
inline constexpr os_status_t errSecCSSignatureFailed = -67061;
// The bundle has no signature.
inline constexpr os_status_t errSecCSUnsigned = -67062;
// The process was altered at run time: traced, or started with a preloaded or redirected loader.
inline constexpr os_status_t errSecCSGuestInvalid = -67063;
// The process is gone or cannot be inspected.
inline constexpr os_status_t errSecCSNoSuchCode = -67065;
// The executable is not the main executable of a well-formed bundle.
inline constexpr os_status_t errSecCSBadBundleFormat = -67028;

inline constexpr std::string_view kTrustAnchorDirectory = "/etc/codesign/anchors";

// A readable description of a status returned by the checks below.
std::string SecCopyErrorMessageString(os_status_t status);

// The running code of one client process, pinned at lookup time.
struct guest_code_t {
  process_ref_t process;
  // The process's /proc directory, opened while the pidfd proved it was this process.
  unique_fd_t proc_directory;
  // The file the process executes, opened through /proc/<pid>/exe.
  unique_fd_t executable;
  std::filesystem::path bundle;
};

std::optional<requirement_t> SecRequirementCreateWithString(std::string_view text);

// Nothing when the process is gone or its executable is not the main executable of a bundle.
std::optional<guest_code_t> SecCodeCopyGuestWithAttributes(const peer_t& peer);

// 0 when the guest is validly signed, unaltered and satisfies the requirement. A process that is
// traced, was started with LD_PRELOAD, LD_AUDIT or LD_LIBRARY_PATH in its initial environment,
// is dumpable (the hardened runtime's clients make themselves non-dumpable at start), maps
// executable code other than its main executable, root's own files and the kernel's, or has
// executed another program since the lookup is refused whatever its signature.
os_status_t SecCodeCheckValidity(const guest_code_t& guest, const requirement_t& requirement);

// The same check against trust anchors in another directory (tests and tools that run outside
// the system's own root).
os_status_t SecCodeCheckValidityWithAnchors(const guest_code_t& guest,
                                            const requirement_t& requirement,
                                            const std::filesystem::path& anchor_directory);

}  // namespace platform
