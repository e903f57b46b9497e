#pragma once

// Rewrites, in place, every "S" or "s" that directly follows a "%" to "s", so "%S" takes a text
// argument like "%s". Any character after a "%" ends the conversion start: "%%S" and "%10S"
// are left alone.
void rewrite_text_conversions(char* format);

// Whether rewrite_text_conversions would change the format.
bool has_text_conversions(const char* format);
