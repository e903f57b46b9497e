// The namespace check every namespace request makes: non-empty, at most 128 characters, letters,
// digits and "_" only; however long the text, the check must neither crash nor take long.
#include <cstdlib>
#include <cstring>

#include "fuzz/fuzz_support.h"
#include "service/helper_tool.h"

namespace {

bool is_namespace(const std::string& text) {
  static const char* const allowed =
      "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_";
  return !text.empty() && text.size() <= 128 && std::strspn(text.c_str(), allowed) == text.size();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz_support::trace_into_scratch();
  static helper_tool_t service;
  const std::string text(fuzz_support::as_text(data, size));
  if (service._validateVLNamespace(text) != is_namespace(text)) std::abort();
  return 0;
}
