#include "platform/foundation/file_writing.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

#include "platform/base/unique_fd.h"
#include "platform/base/write_all.h"

namespace platform::file_writing {
namespace {

// A name beside path that no other writer in this or another process picks at the same time.
std::string temporary_name_beside(const std::string& path) {
  static std::atomic<unsigned> counter{0};
  return path + ".velmora-" + std::to_string(getpid()) + "-" + std::to_string(counter++);
}

// Opens a new file beside path; exclusive creation, so an existing file or link is never reused.
unique_fd_t create_beside(const std::string& path, std::string& name) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    name = temporary_name_beside(path);
    unique_fd_t fd(
        ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666));
    if (fd || errno != EEXIST) return fd;
  }
  return unique_fd_t();
}

}  // namespace

bool write_atomically(const std::string& path, std::string_view bytes) {
  std::string name;
  unique_fd_t fd = create_beside(path, name);
  if (!fd) return false;

  struct stat existing {};
  const bool keep_mode = ::lstat(path.c_str(), &existing) == 0 && S_ISREG(existing.st_mode);
  const bool written = platform::write_all(fd.get(), bytes) &&
                       (!keep_mode || ::fchmod(fd.get(), existing.st_mode & 07777) == 0) &&
                       ::fsync(fd.get()) == 0;
  fd.reset();
  if (!written || ::rename(name.c_str(), path.c_str()) != 0) {
    ::unlink(name.c_str());
    return false;
  }
  return true;
}

bool write_in_place(const std::string& path, std::string_view bytes) {
  unique_fd_t fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
  return fd && platform::write_all(fd.get(), bytes);
}

}  // namespace platform::file_writing
