#include "platform/security/guest_process.h"

#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <string_view>

#include "platform/security/code_mappings.h"
#include "platform/security/code_signing.h"
#include "platform/security/file_bytes.h"

namespace platform {

namespace {

// Environment settings that make the loader put other code into the process.
constexpr std::array<std::string_view, 3> kLoaderOverrides = {
    "LD_PRELOAD=", "LD_AUDIT=", "LD_LIBRARY_PATH="};
constexpr std::string_view kDeletedSuffix = " (deleted)";

std::optional<long> tracer_pid(const std::string& status) {
  constexpr std::string_view kKey = "\nTracerPid:";
  const std::size_t at = status.find(kKey);
  if (at == std::string::npos) return std::nullopt;
  return std::strtol(status.c_str() + at + kKey.size(), nullptr, 10);
}

std::optional<std::string_view> loader_override(std::string_view environment) {
  while (!environment.empty()) {
    const std::size_t end = environment.find('\0');
    const std::string_view entry = environment.substr(0, end);
    for (const std::string_view name : kLoaderOverrides) {
      if (entry.starts_with(name)) return name.substr(0, name.size() - 1);
    }
    if (end == std::string_view::npos) break;
    environment.remove_prefix(end + 1);
  }
  return std::nullopt;
}

}  // namespace

unique_fd_t open_proc_directory(const process_ref_t& process) {
  const std::string path = "/proc/" + std::to_string(process.pid());
  unique_fd_t directory(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!directory || !process.is_running()) return unique_fd_t();
  return directory;
}

std::optional<std::filesystem::path> executable_path(int proc_directory) {
  std::array<char, 4096> buffer{};
  const ssize_t length = ::readlinkat(proc_directory, "exe", buffer.data(), buffer.size());
  if (length <= 0 || static_cast<std::size_t>(length) >= buffer.size()) return std::nullopt;
  std::string_view path(buffer.data(), static_cast<std::size_t>(length));
  if (path.ends_with(kDeletedSuffix)) path.remove_suffix(kDeletedSuffix.size());
  return std::filesystem::path(path);
}

unique_fd_t open_executable(int proc_directory) {
  return unique_fd_t(::openat(proc_directory, "exe", O_RDONLY | O_CLOEXEC));
}

bool still_executes(int proc_directory, int executable) {
  struct stat current {};
  struct stat pinned {};
  return ::fstatat(proc_directory, "exe", &current, 0) == 0 && ::fstat(executable, &pinned) == 0 &&
         current.st_dev == pinned.st_dev && current.st_ino == pinned.st_ino;
}

// The kernel gives the files of a non-dumpable process's /proc directory to root (the directory
// itself keeps the process's owner). A process of root's own looks the same either way, but
// other root processes may trace it regardless.
bool is_dumpable(int proc_directory) {
  struct stat file {};
  return ::fstatat(proc_directory, "stat", &file, 0) != 0 || file.st_uid != 0;
}

os_status_t check_runtime_integrity(int proc_directory, int executable, std::string& reason) {
  const std::optional<std::string> status = read_file_bytes(proc_directory, "status");
  const std::optional<long> tracer = status ? tracer_pid(*status) : std::nullopt;
  // The initial environment: what the loader saw when it mapped the program.
  const std::optional<std::string> environment = read_file_bytes(proc_directory, "environ");
  if (!tracer || !environment) {
    reason = "the process cannot be inspected";
    return errSecCSNoSuchCode;
  }
  if (*tracer != 0) {
    reason = "the process is traced by process " + std::to_string(*tracer);
    return errSecCSGuestInvalid;
  }
  if (const std::optional<std::string_view> name = loader_override(*environment)) {
    reason = "the process was started with " + std::string(*name);
    return errSecCSGuestInvalid;
  }
  if (is_dumpable(proc_directory)) {
    reason = "the process is dumpable";
    return errSecCSGuestInvalid;
  }
  if (std::optional<std::string> foreign = foreign_code_mapping(proc_directory, executable)) {
    reason = std::move(*foreign);
    return errSecCSGuestInvalid;
  }
  return 0;
}

}  // namespace platform
