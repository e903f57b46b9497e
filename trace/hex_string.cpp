#include "trace/hex_string.h"

#include <memory>
#include <string_view>

namespace {

// The text buffer starts at 4096 bytes and doubles until it holds two digits per byte and
// the terminating zero, so it is sized once, before printing.
std::size_t text_capacity(std::size_t bytes) {
  std::size_t capacity = 4096;
  while (capacity < bytes * 2 + 1)
    capacity *= 2;
  return capacity;
}

}  // namespace

string_t hex_string(const byte_view_t& view) {
  if (view.handle.buffer() == nullptr) return string_t("(null)");

  static constexpr char digits[] = "0123456789abcdef";
  const auto bytes = view.bytes();
  const auto text = std::make_unique_for_overwrite<char[]>(text_capacity(bytes.size()));
  char* out = text.get();
  for (const unsigned char byte : bytes) {
    *out++ = digits[byte >> 4];
    *out++ = digits[byte & 0x0f];
  }
  return string_t(std::string_view(text.get(), static_cast<std::size_t>(out - text.get())));
}
