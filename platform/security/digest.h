#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace platform {

using sha256_t = std::array<std::uint8_t, 32>;

struct sha256_hash_t {
  std::size_t operator()(const sha256_t& digest) const;
};

sha256_t sha256_of_bytes(std::string_view bytes);
// The digest of a whole file read from its start, whatever the descriptor's offset.
std::optional<sha256_t> sha256_of_file(int fd);

}  // namespace platform
