#pragma once

#include <cstdarg>
#include <cstddef>

inline constexpr std::size_t trace_line_capacity = 1152;

// Formats one trace line into line and returns its length: the columns, then the message
// printed from format and args straight into its place (at most 1023 characters). A line too
// long for the buffer keeps its first characters and still ends with a line feed, so the file
// stays made of whole lines.
std::size_t format_trace_line(char (&line)[trace_line_capacity], int level, const char* name,
                              const char* format, va_list args);
