#include "trace/string_format.h"

#include <cstdio>
#include <memory>
#include <string>
#include <string_view>

#include "trace/format_rewrite.h"

namespace {

constexpr std::size_t first_capacity = 1024;
constexpr std::size_t last_capacity = 131072;

// One formatting try into capacity bytes, of which the formatter is told capacity - 1.
// It succeeds when the text fits in capacity - 2 characters.
bool format_into(char* buffer, std::size_t capacity, const char* format, va_list args) {
  va_list copy;
  va_copy(copy, args);
  // The analyzer does not follow a list started by the caller into va_copy.
  // NOLINTNEXTLINE(clang-analyzer-valist.Uninitialized)
  const int length = std::vsnprintf(buffer, capacity - 1, format, copy);
  va_end(copy);
  return length >= 0 && static_cast<std::size_t>(length) < capacity - 1;
}

}  // namespace

string_t string_format(const char* format, ...) {
  va_list args;
  va_start(args, format);
  string_t text = string_format_v(format, args);
  va_end(args);
  return text;
}

string_t string_format_v(const char* format, va_list args) {
  std::string rewritten(format != nullptr ? format : "");
  rewrite_text_conversions(rewritten.data());

  char local[first_capacity];
  if (format_into(local, first_capacity, rewritten.c_str(), args)) return string_t(local);

  for (std::size_t capacity = first_capacity * 2; capacity <= last_capacity; capacity *= 2) {
    const auto buffer = std::make_unique_for_overwrite<char[]>(capacity);
    if (format_into(buffer.get(), capacity, rewritten.c_str(), args)) {
      return string_t(buffer.get());
    }
  }
  return string_t();
}
