#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "platform/base/os_status.h"
#include "platform/security/digest.h"
#include "platform/security/openssl_handles.h"
#include "platform/security/requirement.h"

namespace platform {

struct code_check_t {
  os_status_t status = 0;
  std::string reason;  // empty when the code is valid
};

// Checks the bundle's signature against the anchors, the executable (read from start to end
// through executable_fd) and Info.plist against the sealed digests, and then the requirement
// when one is given. With the anchors' generation, a signature verified before against that
// generation is not verified again (signature_cache.h).
code_check_t check_bundle_code(const std::filesystem::path& bundle, int executable_fd,
                               const requirement_t* requirement, X509_STORE* anchors,
                               const std::optional<sha256_t>& anchors_generation = std::nullopt);

// The same check of a bundle on disk, its main executable read from the file Info.plist names.
code_check_t check_bundle_on_disk(const std::filesystem::path& bundle,
                                  const requirement_t* requirement, X509_STORE* anchors);

}  // namespace platform
