#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/base/os_status.h"
#include "platform/security/code_directory.h"
#include "platform/security/openssl_handles.h"

namespace platform {

// A signature that verified: the code directory it seals and the signer's chain, leaf first and
// trust anchor last.
struct signed_code_t {
  code_directory_t directory;
  openssl::x509_stack_ptr_t chain;
  sha256_t directory_hash{};  // of the encoded directory, the signed content
};

// A verified signature is shared, never copied: the certificates of a remembered chain are held
// by every client checked against it, and their last holder frees them.
struct signature_check_t {
  os_status_t status = 0;
  std::string reason;                         // empty when the signature verified
  std::shared_ptr<const signed_code_t> code;  // null unless it verified
};

// Checks a DER CMS signature with one signer against the trust anchors in the store. The
// certificates inside the signature serve only as intermediates.
signature_check_t verify_code_signature(std::string_view der, X509_STORE* anchors);

struct signing_identity_t {
  X509* leaf = nullptr;
  EVP_PKEY* key = nullptr;
  STACK_OF(X509) * intermediates = nullptr;  // may be null
};

// The DER CMS SignedData over the encoded directory, the directory attached; nothing on failure
// (the reason in *error).
std::optional<std::string> sign_code_directory(const code_directory_t& directory,
                                               const signing_identity_t& identity,
                                               std::string& error);

// The team identifier a leaf certificate stands for: its subject's organisational unit.
std::optional<std::string> team_identifier_of(X509* leaf);

}  // namespace platform
