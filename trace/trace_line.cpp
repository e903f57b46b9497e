// The columns are written by hand, the date once per second per thread, and the message is
// printed into the line buffer itself: one printf per line, for the message alone.
#include "trace/trace_line.h"

#include <sys/time.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "trace/control_escape.h"
#include "trace/format_rewrite.h"
#include "trace/thread_identity.h"
#include "trace/thread_name.h"
#include "trace/trace_writer.h"

namespace {

constexpr std::size_t format_capacity = 1024;
constexpr std::size_t message_capacity = 1024;
// Characters a line may hold; the last byte of the buffer is never used, as with snprintf.
constexpr std::size_t line_limit = trace_line_capacity - 1;

const char* level_name(int level) {
  static constexpr const char* names[] = {"explode", "auth", "crash", "error",
                                          "warning", "info", "debug", "internal"};
  return level >= 1 && level <= 8 ? names[level - 1] : "invalid";
}

// The format to print with: the caller's own when it needs no change, else a copy cut to 1023
// characters with "%S" rewritten to "%s".
const char* printable_format(const char* format, char (&copy)[format_capacity]) {
  if (format == nullptr) return "";
  const std::size_t length = strnlen(format, format_capacity);
  if (length < format_capacity && !has_text_conversions(format)) return format;
  const std::size_t kept = std::min(length, format_capacity - 1);
  std::memcpy(copy, format, kept);
  copy[kept] = '\0';
  rewrite_text_conversions(copy);
  return copy;
}

// "YYYY-MM-DD HH:MM:SS" of a time in UTC, broken down again only when the second changes.
const char* utc_date_time(std::time_t now) {
  struct cached_t {
    std::time_t second = -1;
    char text[64] = {};
  };
  thread_local cached_t cached;
  if (cached.second != now) {
    std::tm utc{};
    gmtime_r(&now, &utc);
    std::snprintf(cached.text, sizeof cached.text, "%04i-%02i-%02i %02i:%02i:%02i",
                  utc.tm_year + 1900, utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min,
                  utc.tm_sec);
    cached.second = now;
  }
  return cached.text;
}

// Appends to the line, silently dropping what does not fit.
class line_builder_t {
 public:
  explicit line_builder_t(char* line) : line_(line) {}

  void text(const char* text, std::size_t length) {
    const std::size_t room = line_limit - std::min(length_, line_limit);
    std::memcpy(line_ + std::min(length_, line_limit), text, std::min(length, room));
    length_ += length;
  }
  void text(const char* text) { this->text(text, std::strlen(text)); }
  void blanks(std::size_t count) {
    const std::size_t room = line_limit - std::min(length_, line_limit);
    std::memset(line_ + std::min(length_, line_limit), ' ', std::min(count, room));
    length_ += count;
  }
  // %<width>s
  void right_aligned(const char* text, std::size_t width) {
    const std::size_t length = std::strlen(text);
    if (length < width) blanks(width - length);
    this->text(text, length);
  }
  // %<width>u, or %0<width>u with zero_filled
  void number(unsigned long long value, std::size_t width, bool zero_filled = false) {
    char digits[24];
    std::size_t count = 0;
    do {
      digits[sizeof digits - ++count] = static_cast<char>('0' + value % 10);
      value /= 10;
    } while (value != 0);
    for (; count < width; ++count)
      digits[sizeof digits - 1 - count] = zero_filled ? '0' : ' ';
    text(digits + sizeof digits - count, count);
  }
  std::size_t length() const { return length_; }

 private:
  char* line_;
  std::size_t length_ = 0;
};

// "%7s %04i-%02i-%02i %02i:%02i:%02i.%03i %10s %6s %6u %6llu %4s %32s - "
std::size_t format_columns(char* line, int level, const char* name) {
  const std::time_t now = std::time(nullptr);
  timeval time_of_day{};
  gettimeofday(&time_of_day, nullptr);

  line_builder_t columns(line);
  columns.right_aligned(level_name(level), 7);
  columns.text(" ");
  columns.text(utc_date_time(now));
  columns.text(".");
  columns.number(static_cast<unsigned long long>(time_of_day.tv_usec / 1000), 3, true);
  columns.text(" ");
  columns.right_aligned(trace_component(), 10);
  columns.text(" ");
  columns.right_aligned(current_thread_name(), 6);
  columns.text(" ");
  columns.number(static_cast<unsigned>(current_process_id()), 6);
  columns.text(" ");
  columns.number(static_cast<unsigned long long>(current_thread_id()), 6);
  columns.blanks(1 + 4 + 1);
  columns.right_aligned(name != nullptr ? name : "", 32);
  columns.text(" - ");
  return columns.length();
}

}  // namespace

std::size_t format_trace_line(char (&line)[trace_line_capacity], int level, const char* name,
                              const char* format, va_list args) {
  std::size_t length = format_columns(line, level, name);
  if (length < line_limit) {
    char format_copy[format_capacity];
    const std::size_t room = std::min(message_capacity, trace_line_capacity - length);
    const int printed =
        std::vsnprintf(line + length, room, printable_format(format, format_copy), args);
    const std::size_t message =
        printed < 0 ? 0 : std::min(static_cast<std::size_t>(printed), room - 1);
    // A message holding a zero byte ends there, as the text it stands for does. Control
    // characters of client texts would forge lines: they are escaped.
    length += escape_control_characters(line + length, strnlen(line + length, message), room - 1);
  }
  if (length < line_limit) {
    line[length] = '\n';
    return length + 1;
  }
  line[line_limit - 1] = '\n';
  return line_limit;
}
