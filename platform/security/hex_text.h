#pragma once

#include <string>
#include <string_view>

namespace platform {

// The bytes in lower-case hexadecimal, two digits each.
std::string hex_text(std::string_view bytes);

}  // namespace platform
