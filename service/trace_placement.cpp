#include "service/trace_placement.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>

#include "platform/base/unique_fd.h"
#include "platform/foundation/home_directory.h"
#include "platform/foundation/nslog.h"
#include "platform/system_configuration/console_user.h"
#include "trace/trace.h"
#include "trace/trace_file_open.h"

namespace {

const char* const trace_suffix = ".trace";
const char* const trace_file_name = "velmora.trace";
const char* const hidden_directory_name = ".velmora";
const char* const system_trace_directory = "/var/log/";

// Neither truncating nor appending: an existing trace file keeps its contents. O_ASYNC is what
// the platform passes; Linux accepts it and it changes nothing for a regular file.
constexpr int probe_flags = O_RDWR | O_CREAT | O_ASYNC;

bool can_open(const string_t& path, mode_t mode) {
  const platform::unique_fd_t fd(trace_file_open(path.c_str(), probe_flags, mode));
  return static_cast<bool>(fd);
}

[[noreturn]] void cannot_create_trace_file() {
  platform::NSLog("Error: can't create trace file at %s", trace_directory().c_str());
  std::abort();
}

std::string console_user_name() {
  return platform::SCDynamicStoreCopyConsoleUser().value_or("<unknown>");
}

std::string home_directory() {
  if (::getuid() != 0) return platform::NSHomeDirectory();
  return platform::NSHomeDirectoryForUser(console_user_name());
}

// The folder may lie where others can create files (/tmp, a user's home): it must be a real
// folder of ours that nobody else can change.
bool is_private_directory(const string_t& path) {
  struct stat status {};
  return ::lstat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode) &&
         status.st_uid == ::geteuid() && (status.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

string_t fallback_directory() {
  const char* home = std::getenv("HOME");
  return home != nullptr && home[0] != '\0' ? string_t(home) : string_t("/tmp");
}

}  // namespace

string_t join(const string_t& name) {
  if (name.length() == 0) return trace_directory();
  return trace_directory() + "/" + name;
}

void choose_trace_directory() {
  if (can_open(string_t(system_trace_directory) + trace_file_name, 0666)) {
    trace_directory() = system_trace_directory;
    return;
  }
  trace_directory() = string_t(home_directory());
  if (trace_directory().length() == 0) trace_directory() = fallback_directory();
  trace_directory() = join(hidden_directory_name);
  if (::mkdir(trace_directory().c_str(), 0755) != 0 && errno != EEXIST) cannot_create_trace_file();
  if (!is_private_directory(trace_directory())) cannot_create_trace_file();
  const string_t probe = join(string_t(hidden_directory_name) + trace_suffix);
  if (!can_open(probe, 0644)) cannot_create_trace_file();
}
