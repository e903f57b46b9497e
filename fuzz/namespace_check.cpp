// The namespace check every namespace request makes: non-empty, letters, digits and "_" only.
#include <cstdlib>

#include "fuzz/fuzz_support.h"
#include "service/helper_tool.h"

namespace {

bool is_namespace(std::string_view text) {
  if (text.empty()) return false;
  for (const char c : text) {
    const bool allowed =
        (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
    if (!allowed) return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz_support::trace_into_scratch();
  static helper_tool_t service;
  const std::string text(fuzz_support::as_text(data, size));
  if (service._validateVLNamespace(text) != is_namespace(text)) std::abort();
  return 0;
}
