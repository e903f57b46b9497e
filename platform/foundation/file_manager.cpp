#include "platform/foundation/file_manager.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/base/unique_fd.h"
#include "platform/foundation/file_writing.h"

namespace platform::file_manager {
namespace {

bool is_directory(const std::string& path) {
  struct stat status {};
  return ::stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

bool make_directory(const std::string& path, std::string* error) {
  if (::mkdir(path.c_str(), 0777) == 0) return true;
  const int failure = errno;
  if (failure == EEXIST && is_directory(path)) return true;
  if (error != nullptr) {
    *error = "could not create directory \"" + path + "\": " + std::strerror(failure);
  }
  return false;
}

// Every path from the first component down to path itself ("/a/b" gives "/a", "/a/b").
std::vector<std::string> prefixes_of(const std::string& path) {
  std::vector<std::string> prefixes;
  for (std::size_t slash = path.find('/', 1); slash != std::string::npos;
       slash = path.find('/', slash + 1)) {
    prefixes.push_back(path.substr(0, slash));
  }
  prefixes.push_back(path);
  return prefixes;
}

// Collapses repeated slashes and drops a trailing one, as the platform standardises paths.
std::string without_extra_slashes(const std::string& path) {
  std::string result;
  for (const char c : path) {
    if (c == '/' && !result.empty() && result.back() == '/') continue;
    result.push_back(c);
  }
  if (result.size() > 1 && result.back() == '/') result.pop_back();
  return result;
}

}  // namespace

bool fileExistsAtPath(const std::string& path) {
  struct stat status {};
  return !path.empty() && ::stat(path.c_str(), &status) == 0;
}

bool createFileAtPath(const std::string& path) {
  return file_writing::write_atomically(path, {});
}

bool createDirectoryAtPath(const std::string& path, bool intermediate, std::string* error) {
  if (!intermediate) return make_directory(path, error);
  for (const auto& prefix : prefixes_of(without_extra_slashes(path))) {
    if (!make_directory(prefix, error)) return false;
  }
  return true;
}

std::optional<std::vector<std::uint8_t>> contentsAtPath(const std::string& path) {
  unique_fd_t fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  struct stat status {};
  if (!fd || ::fstat(fd.get(), &status) != 0 || !S_ISREG(status.st_mode)) return std::nullopt;

  std::vector<std::uint8_t> contents;
  std::uint8_t buffer[65536];
  for (;;) {
    const ssize_t count = ::read(fd.get(), buffer, sizeof buffer);
    if (count == 0) return contents;
    if (count < 0) {
      if (errno == EINTR) continue;
      return std::nullopt;
    }
    contents.insert(contents.end(), buffer, buffer + count);
  }
}

std::optional<std::string> itemReplacementDirectoryFor(const std::string& path,
                                                       std::string* error) {
  const std::string standard = without_extra_slashes(path);
  const std::size_t slash = standard.rfind('/');
  const std::string parent = slash == std::string::npos ? "." : standard.substr(0, slash);
  std::string name = parent + "/." + lastPathComponent(standard) + ".XXXXXX";
  if (::mkdtemp(name.data()) != nullptr) return name;
  if (error != nullptr)
    *error = "could not create a folder beside \"" + path + "\": " + std::strerror(errno);
  return std::nullopt;
}

bool replaceItemAtPath(const std::string& original, const std::string& replacement,
                       std::string* error) {
  if (::renameat2(AT_FDCWD, replacement.c_str(), AT_FDCWD, original.c_str(), RENAME_EXCHANGE) ==
      0) {
    return true;
  }
  if (errno == ENOENT && ::renameat2(AT_FDCWD, replacement.c_str(), AT_FDCWD, original.c_str(),
                                     RENAME_NOREPLACE) == 0) {
    return true;
  }
  if (error != nullptr) {
    *error = "could not put \"" + replacement + "\" in place of \"" + original +
             "\": " + std::strerror(errno);
  }
  return false;
}

std::string stringByAppendingPathComponent(const std::string& path, const std::string& component) {
  if (path.empty()) return without_extra_slashes(component);
  if (component.empty()) return without_extra_slashes(path);
  return without_extra_slashes(path + "/" + component);
}

std::string lastPathComponent(const std::string& path) {
  std::string standard = without_extra_slashes(path);
  if (standard == "/") return standard;
  const std::size_t slash = standard.rfind('/');
  return slash == std::string::npos ? standard : standard.substr(slash + 1);
}

}  // namespace platform::file_manager
