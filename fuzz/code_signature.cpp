// The CMS signature of a client bundle (_CodeSignature/CodeSignature), checked against the
// anchor of the tests' signing identity. A signature that verifies carries a chain that ends at
// that anchor and a code directory.
#include "platform/security/code_signature.h"

#include <cstdlib>

#include "fuzz/fuzz_support.h"
#include "platform/security/trust_store.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const auto anchors =
      platform::load_trust_anchors(fuzz_support::data_directory() + "/anchors");
  const auto check =
      platform::verify_code_signature(fuzz_support::as_text(data, size), anchors.get());
  const bool verified = check.status == 0;
  if (verified != check.reason.empty() || verified != (check.code != nullptr)) std::abort();
  if (verified && sk_X509_num(check.code->chain.get()) < 1) std::abort();
  return 0;
}
