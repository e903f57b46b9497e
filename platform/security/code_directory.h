#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/security/digest.h"

namespace platform {

// What a signature seals: who signed the code, the digests of its two sealed files, and what the
// signer declared about it. Encoded as a binary property list, the content of the CMS signature;
// its SHA-256 is the code directory hash.
struct code_directory_t {
  std::string identifier;
  std::string team_identifier;
  sha256_t executable_digest{};
  sha256_t info_plist_digest{};
  // The entitlements property list as it was signed; empty when there is none.
  std::string entitlements;
  // The canonical text of the designated requirement; empty when none was recorded.
  std::string designated_requirement;

  std::string encode() const;
  // Nothing when the bytes are not a complete code directory of a version this code reads.
  static std::optional<code_directory_t> decode(std::string_view bytes);
};

}  // namespace platform
