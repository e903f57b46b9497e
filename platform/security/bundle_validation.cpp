#include "platform/security/bundle_validation.h"

#include <optional>

#include "platform/base/unique_fd.h"
#include "platform/foundation/property_list.h"
#include "platform/security/bundle.h"
#include "platform/security/code_signature.h"
#include "platform/security/code_signing.h"
#include "platform/security/executable_digest.h"
#include "platform/security/file_bytes.h"
#include "platform/security/requirement_subject.h"
#include "platform/security/signature_cache.h"

namespace platform {

code_check_t check_bundle_code(const std::filesystem::path& bundle, int executable_fd,
                               const requirement_t* requirement, X509_STORE* anchors,
                               const std::optional<sha256_t>& anchors_generation) {
  const std::optional<std::string> signature = read_bundle_file(signature_path(bundle));
  if (!signature) return {errSecCSUnsigned, "code object is not signed at all"};
  // Info.plist is read once: the bytes that are hashed are the bytes the requirement sees.
  const std::optional<std::string> info_bytes = read_bundle_file(info_plist_path(bundle));
  const property_list::plist_ptr_t info = property_list::parse(info_bytes.value_or(""));
  if (!PLIST_IS_DICT(info.get())) {
    return {errSecCSBadBundleFormat, "Info.plist is missing or unreadable"};
  }

  signature_check_t verified =
      verify_code_signature_remembered(*signature, anchors, anchors_generation);
  if (verified.status != 0) return {verified.status, std::move(verified.reason)};
  const signed_code_t& code = *verified.code;

  if (sha256_of_bytes(*info_bytes) != code.directory.info_plist_digest) {
    return {errSecCSBadResource, "Info.plist was modified after signing"};
  }
  const std::optional<sha256_t> executable_digest = sha256_of_executable(executable_fd);
  if (!executable_digest) return {errSecCSNoSuchCode, "the main executable cannot be read"};
  if (*executable_digest != code.directory.executable_digest) {
    return {errSecCSBadResource, "the main executable was modified after signing"};
  }
  const property_list::plist_ptr_t entitlements = property_list::parse(code.directory.entitlements);
  if (!code.directory.entitlements.empty() && !PLIST_IS_DICT(entitlements.get())) {
    return {errSecCSSignatureFailed, "the signed entitlements are not a dictionary"};
  }
  requirement_subject_t subject{code.directory.identifier, code.chain.get(), info.get()};
  subject.entitlements = entitlements.get();
  subject.code_directory_hash = &code.directory_hash;
  subject.anchors = anchors;
  if (requirement != nullptr && !requirement->is_satisfied_by(subject)) {
    return {errSecCSReqFailed, "the code does not satisfy the requirement"};
  }
  return {};
}

code_check_t check_bundle_on_disk(const std::filesystem::path& bundle,
                                  const requirement_t* requirement, X509_STORE* anchors) {
  const unique_fd_t executable = open_main_executable(bundle);
  if (!executable) return {errSecCSBadBundleFormat, "the main executable is missing"};
  return check_bundle_code(bundle, executable.get(), requirement, anchors);
}

}  // namespace platform
