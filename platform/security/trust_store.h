#pragma once

#include <filesystem>

#include "platform/security/openssl_handles.h"

namespace platform {

// A store of the trust anchors: every certificate in the directory's *.pem files. A missing or
// empty directory gives a store that trusts nothing. Chains are checked for any purpose: code
// signing certificates carry no TLS or e-mail purposes.
openssl::x509_store_ptr_t load_trust_anchors(const std::filesystem::path& directory);

}  // namespace platform
