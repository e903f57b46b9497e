// The code directory a signature seals: decoded from the signature's content, which a client
// controls; what decodes must encode back to the same directory.
#include "platform/security/code_directory.h"

#include <cstdlib>

#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto directory = platform::code_directory_t::decode(fuzz_support::as_text(data, size));
  if (!directory) return 0;
  const auto again = platform::code_directory_t::decode(directory->encode());
  if (!again || again->identifier != directory->identifier ||
      again->team_identifier != directory->team_identifier ||
      again->executable_digest != directory->executable_digest ||
      again->info_plist_digest != directory->info_plist_digest) {
    std::abort();
  }
  return 0;
}
