#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/security/digest.h"

namespace platform {

// What a signature seals: who signed the code and the digests of its two sealed files. Encoded
// as a binary property list, the content of the CMS signature.
struct code_directory_t {
  std::string identifier;
  std::string team_identifier;
  sha256_t executable_digest{};
  sha256_t info_plist_digest{};

  std::string encode() const;
  // Nothing when the bytes are not a complete code directory of a version this code reads.
  static std::optional<code_directory_t> decode(std::string_view bytes);
};

}  // namespace platform
