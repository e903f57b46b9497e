#include "platform/security/bundle.h"

#include <fcntl.h>
#include <sys/stat.h>

#include "platform/foundation/property_list.h"
#include "platform/security/file_bytes.h"

namespace platform {

std::filesystem::path info_plist_path(const std::filesystem::path& bundle) {
  return bundle / "Contents" / "Info.plist";
}

std::filesystem::path signature_path(const std::filesystem::path& bundle) {
  return bundle / "Contents" / "_CodeSignature" / "CodeSignature";
}

std::filesystem::path executable_directory(const std::filesystem::path& bundle) {
  return bundle / "Contents" / "MacOS";
}

std::optional<std::string> main_executable_name(plist_t info) {
  std::optional<std::string> name = property_list::string_entry(info, "CFBundleExecutable");
  if (!name || name->empty() || *name == "." || *name == ".." ||
      name->find('/') != std::string::npos || name->find('\0') != std::string::npos) {
    return std::nullopt;
  }
  return name;
}

namespace {

std::optional<std::string> main_executable_name_of(const std::filesystem::path& bundle) {
  const std::optional<std::string> bytes = read_bundle_file(info_plist_path(bundle));
  const property_list::plist_ptr_t info = property_list::parse(bytes.value_or(""));
  return main_executable_name(info.get());
}

}  // namespace

// Like every file of a bundle, the executable must be a regular file, not a link or a FIFO
// that an open would wait on.
unique_fd_t open_main_executable(const std::filesystem::path& bundle) {
  const std::optional<std::string> name = main_executable_name_of(bundle);
  if (!name) return unique_fd_t();
  const std::filesystem::path executable = executable_directory(bundle) / *name;
  unique_fd_t fd(::open(executable.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC));
  struct stat status {};
  if (!fd || ::fstat(fd.get(), &status) != 0 || !S_ISREG(status.st_mode)) return unique_fd_t();
  return fd;
}

std::optional<std::filesystem::path> bundle_of_main_executable(
    const std::filesystem::path& executable) {
  if (!executable.is_absolute()) return std::nullopt;
  const std::filesystem::path macos = executable.parent_path();
  const std::filesystem::path contents = macos.parent_path();
  const std::filesystem::path bundle = contents.parent_path();
  if (macos.filename() != "MacOS" || contents.filename() != "Contents" ||
      bundle.extension() != ".app" || bundle.filename() == ".app") {
    return std::nullopt;
  }
  const std::optional<std::string> bytes = read_bundle_file(info_plist_path(bundle));
  if (!bytes) return std::nullopt;
  const property_list::plist_ptr_t info = property_list::parse(*bytes);
  const std::optional<std::string> name = main_executable_name(info.get());
  if (!name || executable.filename() != *name) return std::nullopt;
  return bundle;
}

}  // namespace platform
