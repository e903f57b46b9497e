#pragma once

#include <sys/types.h>

#include <cstddef>

#include "trace/trace.h"

// Pieces of the trace writer shared by its source files.

// The component name printed in column 9.
const char* trace_component();

// Opens the record's file when it is not open yet. Returns its descriptor, 0 when not open.
int trace_open(trace_file_t& record);

// Appends one formatted line under the file lock and trims the file when it grew too large.
// Returns false when the file was not open, so nothing was written.
bool trace_append(trace_file_t& record, const char* line, std::size_t length);

// The size after which the file is trimmed, and how much of its end a trim keeps.
inline constexpr off_t trace_trim_threshold = 0x100000;
inline constexpr off_t trace_trim_keep = 0xE6667;
