// Recursive removal, copy and enumeration. The service runs them as root on trees that a user
// may control and change while we walk them, so every step below the starting point goes through
// descriptors and never follows a link: swapping a folder for a link mid-walk can make an
// operation fail, but never makes it read or write outside the two trees.
#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <system_error>

#include "platform/foundation/directory_entries.h"
#include "platform/foundation/directory_walk.h"
#include "platform/foundation/file_manager.h"

namespace platform::file_manager {
namespace {

namespace entries = platform::directory_entries;

// Why a walk stopped, and at which item.
struct failure_t {
  std::string reason;
  std::string path;
};

bool fail(failure_t& failure, int error, const std::string& path) {
  failure = {std::error_code(error, std::generic_category()).message(), path};
  return false;
}

bool fail(failure_t& failure, const char* reason, const std::string& path) {
  failure = {reason, path};
  return false;
}

std::string quoted(const std::string& name) {
  return "\u201c" + name + "\u201d";
}

std::string describe(const char* verb, const std::string& item, const failure_t& failure) {
  return quoted(item) + " couldn\u2019t be " + verb + ": " + failure.reason + " (" + failure.path +
         ")";
}

std::string child(const std::string& path, const std::string& name) {
  return path + "/" + name;
}

// ---- removal

bool removeEntry(int parent_fd, const std::string& name, const std::string& path,
                 failure_t& failure);

bool removeContents(int dir_fd, const std::string& path, failure_t& failure) {
  const auto names = entries::names(dir_fd);
  if (!names) return fail(failure, errno, path);
  for (const auto& name : *names) {
    if (!removeEntry(dir_fd, name, child(path, name), failure)) return false;
  }
  return true;
}

bool removeEntry(int parent_fd, const std::string& name, const std::string& path,
                 failure_t& failure) {
  struct stat info {};
  if (fstatat(parent_fd, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
    return fail(failure, errno, path);
  }
  if (!S_ISDIR(info.st_mode)) {
    return unlinkat(parent_fd, name.c_str(), 0) == 0 || fail(failure, errno, path);
  }
  unique_fd_t dir(openat(parent_fd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (!dir) return fail(failure, errno, path);
  if (!removeContents(dir.get(), path, failure)) return false;
  return unlinkat(parent_fd, name.c_str(), AT_REMOVEDIR) == 0 || fail(failure, errno, path);
}

// ---- copy

// Only the permission bits travel, without write for group and others: root must not hand out
// a user's setuid or setgid bit, nor let another user write into what it copied.
constexpr mode_t kCopiedModeBits = 0755;

struct copy_step_t {
  int source_parent;
  int destination_parent;
  const std::string& name;
  const std::string& destination_name;
  std::string source_path;
  std::string destination_path;
  bool* created = nullptr;  // set once the destination item exists, for the top item only
};

bool markCreated(const copy_step_t& step) {
  if (step.created != nullptr) *step.created = true;
  return true;
}

bool copyEntry(const copy_step_t& step, failure_t& failure);

bool sameObject(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino &&
         (a.st_mode & S_IFMT) == (b.st_mode & S_IFMT);
}

// Opens what fstatat saw, refusing anything that was swapped in between.
unique_fd_t openSeen(const copy_step_t& step, const struct stat& seen, int flags,
                     failure_t& failure) {
  unique_fd_t fd(openat(step.source_parent, step.name.c_str(),
                        flags | O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  if (!fd) {
    fail(failure, errno, step.source_path);
    return fd;
  }
  struct stat opened {};
  if (fstat(fd.get(), &opened) != 0) {
    fail(failure, errno, step.source_path);
    return unique_fd_t();
  }
  if (!sameObject(seen, opened)) {
    fail(failure, "the item changed while it was copied", step.source_path);
    return unique_fd_t();
  }
  return fd;
}

bool finishAttributes(int fd, const struct stat& source, const std::string& path,
                      failure_t& failure) {
  const std::array<timespec, 2> times{source.st_atim, source.st_mtim};
  if (fchmod(fd, source.st_mode & kCopiedModeBits) != 0) return fail(failure, errno, path);
  if (futimens(fd, times.data()) != 0) return fail(failure, errno, path);
  return true;
}

bool copyBytes(int from, int to, const copy_step_t& step, failure_t& failure) {
  std::array<char, std::size_t{128} * 1024> buffer{};
  for (;;) {
    const ssize_t got = read(from, buffer.data(), buffer.size());
    if (got == 0) return true;
    if (got < 0) {
      if (errno == EINTR) continue;
      return fail(failure, errno, step.source_path);
    }
    for (ssize_t done = 0; done < got;) {
      const ssize_t put = write(to, buffer.data() + done, static_cast<size_t>(got - done));
      if (put < 0) {
        if (errno == EINTR) continue;
        return fail(failure, errno, step.destination_path);
      }
      done += put;
    }
  }
}

bool copyFile(const copy_step_t& step, const struct stat& seen, failure_t& failure) {
  const unique_fd_t source = openSeen(step, seen, 0, failure);
  if (!source) return false;
  // Private until filled; the source's mode is applied at the end.
  const unique_fd_t destination(openat(step.destination_parent, step.destination_name.c_str(),
                                       O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                                       S_IRUSR | S_IWUSR));
  if (!destination) return fail(failure, errno, step.destination_path);
  markCreated(step);
  return copyBytes(source.get(), destination.get(), step, failure) &&
         finishAttributes(destination.get(), seen, step.destination_path, failure);
}

bool copyDirectory(const copy_step_t& step, const struct stat& seen, failure_t& failure) {
  const unique_fd_t source = openSeen(step, seen, O_DIRECTORY, failure);
  if (!source) return false;
  // Listed before the copy exists, so a copy made inside its own source does not copy itself.
  const auto names = entries::names(source.get());
  if (!names) return fail(failure, errno, step.source_path);
  if (mkdirat(step.destination_parent, step.destination_name.c_str(), S_IRWXU) != 0) {
    return fail(failure, errno, step.destination_path);
  }
  markCreated(step);
  const unique_fd_t destination(openat(step.destination_parent, step.destination_name.c_str(),
                                       O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (!destination) return fail(failure, errno, step.destination_path);
  for (const auto& name : *names) {
    const copy_step_t inner{source.get(),
                            destination.get(),
                            name,
                            name,
                            child(step.source_path, name),
                            child(step.destination_path, name)};
    if (!copyEntry(inner, failure)) return false;
  }
  return finishAttributes(destination.get(), seen, step.destination_path, failure);
}

bool copyLink(const copy_step_t& step, const struct stat& seen, failure_t& failure) {
  std::array<char, PATH_MAX + 1> target{};
  const ssize_t length =
      readlinkat(step.source_parent, step.name.c_str(), target.data(), target.size());
  if (length < 0) return fail(failure, errno, step.source_path);
  if (static_cast<size_t>(length) >= target.size()) {
    return fail(failure, ENAMETOOLONG, step.source_path);
  }
  target[static_cast<size_t>(length)] = '\0';
  if (symlinkat(target.data(), step.destination_parent, step.destination_name.c_str()) != 0) {
    return fail(failure, errno, step.destination_path);
  }
  markCreated(step);
  const std::array<timespec, 2> times{seen.st_atim, seen.st_mtim};
  if (utimensat(step.destination_parent, step.destination_name.c_str(), times.data(),
                AT_SYMLINK_NOFOLLOW) != 0) {
    return fail(failure, errno, step.destination_path);
  }
  return true;
}

bool copyEntry(const copy_step_t& step, failure_t& failure) {
  struct stat seen {};
  if (fstatat(step.source_parent, step.name.c_str(), &seen, AT_SYMLINK_NOFOLLOW) != 0) {
    return fail(failure, errno, step.source_path);
  }
  if (S_ISLNK(seen.st_mode)) return copyLink(step, seen, failure);
  if (S_ISDIR(seen.st_mode)) return copyDirectory(step, seen, failure);
  if (S_ISREG(seen.st_mode)) return copyFile(step, seen, failure);
  // Devices, pipes and sockets have no place in a bundle, and reading a pipe would hang us.
  return fail(failure, "not a file, folder or symbolic link", step.source_path);
}

bool existsWithoutFollowing(int parent_fd, const std::string& name) {
  struct stat info {};
  return fstatat(parent_fd, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0;
}

}  // namespace

bool removeItemAtPath(const std::string& path, std::string* error) {
  failure_t failure;
  const auto parent = entries::openParent(path);
  if (!parent) fail(failure, errno, path);
  if (parent && removeEntry(parent->fd.get(), parent->name, path, failure)) return true;
  if (error != nullptr) *error = describe("removed", parent ? parent->name : path, failure);
  return false;
}

bool copyItemAtPath(const std::string& source, const std::string& destination, std::string* error) {
  failure_t failure;
  const auto from = entries::openParent(source);
  if (!from) fail(failure, errno, source);
  const auto to = from ? entries::openParent(destination) : std::nullopt;
  if (from && !to) fail(failure, errno, destination);
  const std::string item = from ? from->name : source;
  const auto report = [&](std::string text) {
    if (error != nullptr) *error = std::move(text);
    return false;
  };
  if (!from || !to) return report(describe("copied", item, failure));
  if (existsWithoutFollowing(to->fd.get(), to->name)) {
    return report(quoted(item) +
                  " couldn\u2019t be copied because an item with the same name already exists.");
  }

  bool created = false;
  const copy_step_t top{from->fd.get(), to->fd.get(), from->name, to->name,
                        source,         destination,  &created};
  if (copyEntry(top, failure)) return true;
  if (created) {
    // A half-copied tree is worse than none.
    failure_t ignored;
    removeEntry(to->fd.get(), to->name, destination, ignored);
  }
  return report(describe("copied", item, failure));
}

std::vector<std::string> enumeratorAtPath(const std::string& directory) {
  std::vector<std::string> result;
  directory_walk::walk(directory.c_str(),
                       [&result](std::string_view relative) { result.emplace_back(relative); });
  return result;
}

}  // namespace platform::file_manager
