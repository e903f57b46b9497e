#include "trace/control_escape.h"

#include <algorithm>
#include <cstring>

namespace {

bool is_control(char c) {
  const auto byte = static_cast<unsigned char>(c);
  return byte < 0x20 || byte == 0x7f;
}

// "\n", "\r", "\t" or "\xHH" for a control character; returns its length.
std::size_t escape_of(char c, char (&escape)[4]) {
  escape[0] = '\\';
  switch (c) {
    case '\n':
      escape[1] = 'n';
      return 2;
    case '\r':
      escape[1] = 'r';
      return 2;
    case '\t':
      escape[1] = 't';
      return 2;
    default:
      static constexpr char digits[] = "0123456789abcdef";
      const auto byte = static_cast<unsigned char>(c);
      escape[1] = 'x';
      escape[2] = digits[byte >> 4];
      escape[3] = digits[byte & 0xf];
      return 4;
  }
}

}  // namespace

std::size_t escape_control_characters(char* text, std::size_t length, std::size_t limit) {
  if (std::none_of(text, text + length, is_control)) return length;
  // How many characters fit once escaped, then the escapes written from the back, where every
  // character read has already been moved.
  std::size_t kept = 0;
  std::size_t escaped = 0;
  for (char escape[4]; kept < length; ++kept) {
    const std::size_t size = is_control(text[kept]) ? escape_of(text[kept], escape) : 1;
    if (escaped + size > limit) break;
    escaped += size;
  }
  std::size_t end = escaped;
  for (std::size_t i = kept; i-- > 0;) {
    char escape[4] = {text[i]};
    const std::size_t size = is_control(text[i]) ? escape_of(text[i], escape) : 1;
    end -= size;
    std::memcpy(text + end, escape, size);
  }
  return escaped;
}
