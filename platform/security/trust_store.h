#pragma once

#include <filesystem>
#include <string_view>

#include "platform/security/openssl_handles.h"

namespace platform {

// The file of the anchor folder that holds the platform vendor's own root, what the requirement
// "anchor apple" names; every anchor of the folder counts for "anchor apple generic".
inline constexpr std::string_view kVendorRootFile = "apple.pem";

// A store of the trust anchors: every certificate in the directory's *.pem files. A missing or
// empty directory gives a store that trusts nothing. Chains are checked for any purpose: code
// signing certificates carry no TLS or e-mail purposes.
openssl::x509_store_ptr_t load_trust_anchors(const std::filesystem::path& directory);

// Whether the certificate is one of the store's anchors.
bool is_trust_anchor(X509_STORE* store, X509* certificate);
// Whether it came from the vendor's root file of the store's folder.
bool is_vendor_root(X509_STORE* store, X509* certificate);

}  // namespace platform
