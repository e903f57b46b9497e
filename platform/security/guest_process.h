#pragma once

#include <sys/stat.h>

#include <filesystem>
#include <optional>
#include <string>

#include "platform/base/os_status.h"
#include "platform/base/unique_fd.h"
#include "platform/security/process_ref.h"

// Reads of a running process through its /proc directory. The directory is opened first and
// then proven to belong to the referenced process (its pidfd still signals); a directory opened
// that way keeps naming that process, and reads through it fail once the process is gone.
namespace platform {

unique_fd_t open_proc_directory(const process_ref_t& process);

// The path the process was started from, as the kernel names its executable. A file replaced
// on disk since keeps the path it had; its contents are read through open_executable.
std::optional<std::filesystem::path> executable_path(int proc_directory);
unique_fd_t open_executable(int proc_directory);

// True while the process still runs the file that executable refers to (no exec since).
bool still_executes(int proc_directory, int executable);

// 0 when nothing changed the process's code at run time; otherwise errSecCSGuestInvalid
// (traced, started with a loader override, dumpable, or running code other than its main
// executable and root's libraries) or errSecCSNoSuchCode (unreadable), the reason in *reason.
os_status_t check_runtime_integrity(int proc_directory, int executable, std::string& reason);

// True while other processes of the same user may trace the process or write its memory.
bool is_dumpable(int proc_directory);

}  // namespace platform
