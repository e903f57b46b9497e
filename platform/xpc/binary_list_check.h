#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

// A look at a binary property list before libplist parses it. libplist's parser recurses once
// per nesting level, parses a shared object again at every reference and keeps a string only up
// to its first NUL; each of these is refused here first, without recursion.
namespace platform::binary_list {

inline constexpr std::size_t max_depth = 64;
// No message expands to more objects than a frame without shared objects could hold.
inline constexpr std::size_t max_expanded_objects = 1024 * 1024;

enum class verdict_t {
  ok,
  malformed,      // not a binary list whose objects can be followed, or one with a cycle
  too_deep,       // nested deeper than max_depth
  too_expanded,   // more than max_expanded_objects once shared objects are counted each time
  text_with_nul,  // a string (a dictionary key included) holds a NUL
};

verdict_t check(std::span<const std::uint8_t> bytes);

}  // namespace platform::binary_list
