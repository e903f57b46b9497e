#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <memory>

#include "trace/record_guard.h"
#include "trace/trace_file_open.h"
#include "trace/trace_writer.h"

namespace {

// Close-on-exec: a child holding the descriptor would share its lock and could write into the
// middle of a trim.
constexpr int open_flags = O_RDWR | O_CREAT | O_ASYNC | O_CLOEXEC;

void report_stdout(const char* format, int error) {
  std::fprintf(stdout, format, error);
  std::fflush(stdout);
}

// Returns how many bytes were written; fewer than length when a write failed.
std::size_t write_fully(int fd, const char* data, std::size_t length) {
  std::size_t total = 0;
  while (total < length) {
    const ssize_t written = ::write(fd, data + total, length - total);
    if (written < 0) {
      if (errno == EINTR) continue;
      report_stdout("Write failed (%d)\n", errno);
      break;
    }
    total += static_cast<std::size_t>(written);
  }
  return total;
}

std::size_t read_fully(int fd, char* data, std::size_t length) {
  std::size_t total = 0;
  while (total < length) {
    const ssize_t got = ::read(fd, data + total, length - total);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    total += static_cast<std::size_t>(got);
  }
  return total;
}

// The kept data starts at the first line feed or zero byte, dropping the tail of a line whose
// start was cut off. Data without either is kept whole: it is all that is left of the file.
const char* first_line_start(const char* data, std::size_t length) {
  const char* end = data + length;
  const char* found = std::find_if(data, end, [](char c) { return c == '\n' || c == '\0'; });
  return found != end ? found : data;
}

// Returns whether the file was cut down.
bool trim(int fd, off_t size) {
  const auto kept = std::make_unique_for_overwrite<char[]>(trace_trim_keep);
  if (::lseek(fd, size - trace_trim_keep, SEEK_SET) < 0) return false;
  const std::size_t got = read_fully(fd, kept.get(), trace_trim_keep);
  if (got == 0) return false;

  const char* start = first_line_start(kept.get(), got);
  const std::size_t length = got - static_cast<std::size_t>(start - kept.get());
  if (::lseek(fd, 0, SEEK_SET) != 0 || write_fully(fd, start, length) != length) return false;
  return ::ftruncate(fd, static_cast<off_t>(length)) == 0;
}

}  // namespace

int trace_open(trace_file_t& record) {
  const record_guard_t hold(record);
  if (record.descriptor != 0) return record.descriptor;

  const int fd = trace_file_open(record.path.c_str(), open_flags, 0666);
  if (fd < 0) {
    const int error = errno;
    report_stdout("Error opening logfile (%d)", error);
    std::fprintf(stderr, "Could not create the logfile (%d)", error);
  } else if (fd == 0) {
    std::fprintf(stderr, "Could not create the logfile (%d)", errno);
  } else {
    ::lseek(fd, 0, SEEK_END);
    record.descriptor = fd;
  }
  return record.descriptor;
}

bool trace_append(trace_file_t& record, const char* line, std::size_t length) {
  // The mutex orders the threads of this process, which share one descriptor and so are not
  // ordered by flock; the flock orders processes.
  const record_guard_t hold(record);
  const int fd = record.descriptor;
  if (fd == 0) return false;

  ::flock(fd, LOCK_EX);
  // Under the exclusive lock the end before the line plus what was written is the file size,
  // so no second seek is needed to read it.
  const off_t end = ::lseek(fd, 0, SEEK_END);
  if (end < 0) {
    report_stdout("ERROR: %d", errno);
  } else {
    off_t size = end + static_cast<off_t>(write_fully(fd, line, length));
    // Part of a line (a full disk) is taken back: the next line would run on from it.
    if (size != end + static_cast<off_t>(length) && size != end) {
      if (::ftruncate(fd, end) == 0) {
        size = end;
      } else {
        report_stdout("ERROR: %d", errno);
      }
    }
    if (size > trace_trim_threshold) trim(fd, size);
  }
  ::flock(fd, LOCK_UN);
  return true;
}
