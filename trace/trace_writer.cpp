#include "trace/trace_writer.h"

#include <cstdio>
#include <cstdlib>

#include "trace/trace_line.h"

namespace {

void report_logging_error() {
  std::fputs("Logging error.", stderr);
}

void write_traced(trace_t& trace, int level, const char* format, va_list args) {
  if (!trace.enabled) return;
  trace_write(trace_record(), level, trace_name(trace), format, args);
}

}  // namespace

void trace_write(trace_file_t* record, int level, const char* name, const char* format,
                 va_list args) {
  if (trace_open(*record) == 0) {
    report_logging_error();
    return;
  }

  char line[trace_line_capacity];
  const std::size_t length = format_trace_line(line, level, name, format, args);
  const bool written = trace_append(*record, line, length);
  if (!written) report_logging_error();
  if (written && level == trace_explode) std::abort();
}

void trace_info(trace_t& trace, const char* format, ...) {
  va_list args;
  va_start(args, format);
  write_traced(trace, trace_level_info, format, args);
  va_end(args);
}

void trace_warning(trace_t& trace, const char* format, ...) {
  va_list args;
  va_start(args, format);
  write_traced(trace, trace_level_warning, format, args);
  va_end(args);
}

void trace_error(trace_t& trace, const char* format, ...) {
  va_list args;
  va_start(args, format);
  write_traced(trace, trace_level_error, format, args);
  va_end(args);
}
