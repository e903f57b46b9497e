// The requirement language: a text compiled (lexer and parser) and evaluated against the facts
// of a signed client: its identifier, a real certificate chain and an Info.plist from the input.
#include "platform/security/requirement.h"

#include <fuzzer/FuzzedDataProvider.h>
#include <openssl/pem.h>

#include <cstdio>
#include <cstdlib>

#include "fuzz/fuzz_support.h"
#include "platform/foundation/property_list.h"
#include "platform/security/requirement_lexer.h"
#include "platform/security/requirement_subject.h"

namespace {

// Leaf, intermediate and anchor of the signing identity the tests use.
STACK_OF(X509) * chain() {
  static STACK_OF(X509)* certificates = [] {
    STACK_OF(X509)* stack = sk_X509_new_null();
    for (const char* name : {"leaf.pem", "intermediate.pem", "root.pem"}) {
      const std::string path = fuzz_support::data_directory() + "/chain/" + name;
      FILE* file = std::fopen(path.c_str(), "r");
      if (file == nullptr) std::abort();
      X509* certificate = PEM_read_X509(file, nullptr, nullptr, nullptr);
      std::fclose(file);
      if (certificate == nullptr) std::abort();
      sk_X509_push(stack, certificate);
    }
    return stack;
  }();
  return certificates;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  const std::string identifier = input.ConsumeRandomLengthString(64);
  const std::string text = input.ConsumeRandomLengthString();
  const std::string info_bytes = input.ConsumeRemainingBytesAsString();

  (void)platform::tokenize_requirement(text);
  const auto requirement = platform::requirement_t::compile(text);
  if (!requirement) return 0;
  if (requirement->text() != text) std::abort();
  const auto info = platform::property_list::parse(info_bytes);
  const platform::requirement_subject_t full{identifier, chain(), info.get()};
  const platform::requirement_subject_t bare{identifier, nullptr, nullptr};
  (void)requirement->is_satisfied_by(full);
  (void)requirement->is_satisfied_by(bare);
  return 0;
}
