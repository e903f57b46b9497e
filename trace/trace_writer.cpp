#include "trace/trace_writer.h"

#include <pthread.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "trace/format_rewrite.h"
#include "trace/thread_identity.h"

namespace {

constexpr std::size_t format_capacity = 1024;
constexpr std::size_t message_capacity = 1024;
constexpr std::size_t thread_name_capacity = 32;
constexpr std::size_t line_capacity = 1152;

constexpr const char* line_format =
    "%7s %04i-%02i-%02i %02i:%02i:%02i.%03i %10s %6s %6u %6llu %4s %32s - %s\n";

const char* level_name(int level) {
  static constexpr const char* names[] = {"explode", "auth", "crash", "error",
                                          "warning", "info", "debug", "internal"};
  return level >= 1 && level <= 8 ? names[level - 1] : "invalid";
}

void copy_format(char (&copy)[format_capacity], const char* format) {
  const std::size_t length = format != nullptr ? strnlen(format, format_capacity - 1) : 0;
  if (length != 0) std::memcpy(copy, format, length);
  copy[length] = '\0';
  rewrite_text_conversions(copy);
}

// A thread nobody named carries its process's name here (the kernel's 15-character command
// name, inherited at creation); it is shown as unnamed, like a thread without a name.
bool is_inherited_process_name(const char* name) {
  constexpr std::size_t command_name_length = 15;
  return std::strncmp(name, program_invocation_short_name, command_name_length) == 0 &&
         std::strlen(name) ==
             std::min(std::strlen(program_invocation_short_name), command_name_length);
}

void read_thread_name(char (&name)[thread_name_capacity]) {
  if (pthread_getname_np(pthread_self(), name, thread_name_capacity) != 0 ||
      is_inherited_process_name(name)) {
    name[0] = '\0';
  }
  if (std::strcmp(name, "velmora") == 0) std::strcpy(name, "main");
}

// Formats the whole line; returns its length. A line too long for the buffer keeps its first
// characters and still ends with a line feed, so the file stays made of whole lines.
std::size_t format_line(char (&line)[line_capacity], int level, const char* name,
                        const char* message) {
  const std::time_t now = std::time(nullptr);
  std::tm utc{};
  gmtime_r(&now, &utc);
  timeval time_of_day{};
  gettimeofday(&time_of_day, nullptr);

  char thread_name[thread_name_capacity];
  read_thread_name(thread_name);

  const int length =
      std::snprintf(line, line_capacity, line_format, level_name(level), utc.tm_year + 1900,
                    utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec,
                    static_cast<int>(time_of_day.tv_usec / 1000), trace_component(), thread_name,
                    static_cast<unsigned>(current_process_id()),
                    static_cast<unsigned long long>(current_thread_id()), "",
                    name != nullptr ? name : "", message);
  if (length < 0) return 0;
  if (static_cast<std::size_t>(length) < line_capacity) return static_cast<std::size_t>(length);
  line[line_capacity - 2] = '\n';
  return line_capacity - 1;
}

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

  char format_copy[format_capacity];
  copy_format(format_copy, format);
  char message[message_capacity];
  if (std::vsnprintf(message, message_capacity, format_copy, args) < 0) message[0] = '\0';

  char line[line_capacity];
  const std::size_t length = format_line(line, level, name, message);
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
