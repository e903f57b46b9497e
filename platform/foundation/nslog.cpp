#include "platform/foundation/nslog.h"

#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>

namespace platform {

void NSLog(const char* format, ...) {
  char message[1024];
  va_list args;
  va_start(args, format);
  std::vsnprintf(message, sizeof(message), format, args);
  va_end(args);
  // One write, so lines of concurrent writers do not interleave.
  char line[1200];
  const int length = std::snprintf(line, sizeof(line), "%s[%d] %s\n", program_invocation_short_name,
                                   static_cast<int>(::getpid()), message);
  if (length > 0) {
    const bool cut = static_cast<std::size_t>(length) >= sizeof(line);
    const std::size_t size = cut ? sizeof(line) - 1 : static_cast<std::size_t>(length);
    if (cut) line[size - 1] = '\n';
    [[maybe_unused]] const ssize_t written = ::write(STDERR_FILENO, line, size);
  }
}

}  // namespace platform
