#include "platform/security/bundle.h"

#include <fcntl.h>

#include "platform/security/file_bytes.h"
#include "platform/security/plist_values.h"

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
  std::optional<std::string> name = plist_values::string_entry(info, "CFBundleExecutable");
  if (!name || name->empty() || *name == "." || *name == ".." ||
      name->find('/') != std::string::npos || name->find('\0') != std::string::npos) {
    return std::nullopt;
  }
  return name;
}

namespace {

std::optional<std::string> main_executable_name_of(const std::filesystem::path& bundle) {
  const std::optional<std::string> bytes =
      read_file_bytes(AT_FDCWD, info_plist_path(bundle).c_str());
  const property_list::plist_ptr_t info = plist_values::parse(bytes.value_or(""));
  return main_executable_name(info.get());
}

}  // namespace

unique_fd_t open_main_executable(const std::filesystem::path& bundle) {
  const std::optional<std::string> name = main_executable_name_of(bundle);
  if (!name) return unique_fd_t();
  const std::filesystem::path executable = executable_directory(bundle) / *name;
  return unique_fd_t(::open(executable.c_str(), O_RDONLY | O_CLOEXEC));
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
  const std::optional<std::string> bytes =
      read_file_bytes(AT_FDCWD, info_plist_path(bundle).c_str());
  if (!bytes) return std::nullopt;
  const property_list::plist_ptr_t info = plist_values::parse(*bytes);
  const std::optional<std::string> name = main_executable_name(info.get());
  if (!name || executable.filename() != *name) return std::nullopt;
  return bundle;
}

}  // namespace platform
