#pragma once

#include "trace/byte_buffer.h"
#include "trace/string.h"

// The bytes of view as lower-case hexadecimal digits, two per byte, no separator;
// "(null)" for a view without a buffer.
string_t hex_string(const byte_view_t& view);
