#pragma once

#include <compare>
#include <string_view>

namespace platform {

// The order of info values under < <= > >=, which must rank version texts the way people read
// them ("10.0" > "6.0.0" > "5.9.9"). The texts are split at dots and compared component by
// component, a missing component counting as "0" (so "6.0" equals "6.0.0"); inside a component a
// run of digits compares by its numeric value (any length, leading zeros ignored) and any other
// character by its byte value; a component that is a prefix of the other ranks first.
std::strong_ordering compare_info_texts(std::string_view left, std::string_view right);

}  // namespace platform
