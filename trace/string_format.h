#pragma once

#include <cstdarg>

#include "trace/string.h"

// printf-style formatting into a new string, checked by the compiler; "%S" also takes a text
// argument like "%s" (call sites write "%s", which the checker knows). A text longer than
// 131,070 characters, or a format the formatter rejects, gives the empty string.
string_t string_format(const char* format, ...) __attribute__((format(printf, 1, 2)));
string_t string_format_v(const char* format, va_list args) __attribute__((format(printf, 1, 0)));
