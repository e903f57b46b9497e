#pragma once

#include <cstdarg>

#include "trace/string.h"

// printf-style formatting into a new string; "%S" takes a text argument like "%s". A text
// longer than 131,070 characters, or a format the formatter rejects, gives the empty string.
string_t string_format(const char* format, ...);
string_t string_format_v(const char* format, va_list args);
