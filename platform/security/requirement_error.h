#pragma once

#include <cstddef>
#include <string>

namespace platform {

// Why a requirement text does not compile, and where: the offset of the first byte that could
// not be read.
struct requirement_error_t {
  std::size_t offset = 0;
  std::string message;

  // "offset N: message", the form the tools print.
  std::string describe() const { return "offset " + std::to_string(offset) + ": " + message; }
};

}  // namespace platform
