// The code directory a signature seals: decoded from the signature's content, which a client
// controls. A directory whose texts the signing tool can write (printable ASCII) must encode back
// to the same directory.
#include "platform/security/code_directory.h"

#include <algorithm>
#include <cstdlib>

#include "fuzz/fuzz_support.h"

namespace {

bool is_printable(const std::string& text) {
  return std::ranges::all_of(text, [](char c) { return c >= 0x20 && c < 0x7f; });
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto directory = platform::code_directory_t::decode(fuzz_support::as_text(data, size));
  if (!directory || !is_printable(directory->identifier) ||
      !is_printable(directory->team_identifier)) {
    return 0;
  }
  const auto again = platform::code_directory_t::decode(directory->encode());
  if (!again || again->identifier != directory->identifier ||
      again->team_identifier != directory->team_identifier ||
      again->executable_digest != directory->executable_digest ||
      again->info_plist_digest != directory->info_plist_digest) {
    std::abort();
  }
  return 0;
}
