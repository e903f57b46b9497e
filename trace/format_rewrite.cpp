#include "trace/format_rewrite.h"

namespace {

// Calls found with each character that directly follows a "%"; stops early when it returns true.
template <typename Char, typename Found>
bool scan_conversion_starts(Char* format, Found found) {
  bool after_percent = false;
  for (Char* c = format; *c != '\0'; ++c) {
    if (after_percent) {
      if (found(*c)) return true;
      after_percent = false;
    } else {
      after_percent = *c == '%';
    }
  }
  return false;
}

}  // namespace

void rewrite_text_conversions(char* format) {
  scan_conversion_starts(format, [](char& c) {
    if (c == 'S') c = 's';
    return false;
  });
}

bool has_text_conversions(const char* format) {
  return scan_conversion_starts(format, [](char c) { return c == 'S'; });
}
