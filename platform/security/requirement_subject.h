#pragma once

#include <openssl/x509.h>
#include <plist/plist.h>

#include <string_view>

#include "platform/security/digest.h"

namespace platform {

// What a requirement is evaluated on: the facts of a validly signed piece of code.
struct requirement_subject_t {
  std::string_view identifier;
  STACK_OF(X509) * chain = nullptr;  // leaf first, trust anchor last
  plist_t info = nullptr;            // the bundle's Info.plist dictionary
  plist_t entitlements = nullptr;    // the signed entitlements dictionary, when there is one
  const sha256_t* code_directory_hash = nullptr;
  X509_STORE* anchors = nullptr;  // the trust anchors the chain was built against
};

}  // namespace platform
