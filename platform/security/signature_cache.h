#pragma once

#include <cstddef>
#include <optional>
#include <string_view>

#include "platform/security/code_signature.h"
#include "platform/security/digest.h"

namespace platform {

// verify_code_signature, remembered by the digest of the signature's bytes and the generation of
// the anchor folder it was verified against (trust_anchors.h). A remembered chain still has its
// certificates' validity times checked against the clock each time; without a generation
// nothing is remembered.
signature_check_t verify_code_signature_remembered(std::string_view der, X509_STORE* anchors,
                                                   const std::optional<sha256_t>& generation);

// How many verifications were answered from memory so far.
std::size_t signatures_reused();

}  // namespace platform
