#include "trace/format_rewrite.h"

void rewrite_text_conversions(char* format) {
  bool after_percent = false;
  for (char* c = format; *c != '\0'; ++c) {
    if (after_percent) {
      if (*c == 'S' || *c == 's') *c = 's';
      after_percent = false;
    } else {
      after_percent = *c == '%';
    }
  }
}
