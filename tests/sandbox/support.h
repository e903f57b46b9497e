#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tools/journal/journal_line.h"

// Help for tests that run as root inside the throwaway root (velmora_add_sandbox_test).
//
// The journal: every stand-in tool appends one line per call to /var/run/standin.log: the tool's
// macOS path ("/bin/launchctl", "/usr/sbin/sysctl", "/usr/bin/xattr", "/usr/bin/hdiutil",
// "/usr/bin/dns-sd", "/sbin/reboot", "/usr/bin/security", ...) and then each argument, each
// field preceded by a tab:
//
//   /bin/launchctl<TAB>limit<TAB>maxfiles<TAB>65536<TAB>1000000
//   /sbin/reboot
//
// A tab, newline or backslash inside a field is written as \t, \n or \\. The line is appended
// before the tool does anything else, so a call that fails on demand is journaled too.
//
// Failure on demand: while /var/run/standin-fail/<tool> exists (tool = the path's last
// component: "launchctl", "sysctl", "dns-sd", ...), that tool journals its call and exits at once
// with the number in the file, or 1.
namespace sandbox {

using standin::journal_entry_t;

inline constexpr const char* helper_name = "com.corvantix.velmora-vl-5e3a07c4.Helper";
inline constexpr const char* helper_socket_path =
    "/var/run/com.corvantix.velmora-vl-5e3a07c4.Helper.socket";

// True inside the throwaway root (the runner's marker file exists).
bool inside_sandbox();

// Every call recorded so far, in order; entries of unreadable lines are skipped.
std::vector<journal_entry_t> read_journal();
// The calls of one tool, by its macOS path.
std::vector<journal_entry_t> journal_calls_of(std::string_view tool_path);
void clear_journal();

void make_tool_fail(std::string_view tool, int status = 1);
void let_tool_succeed(std::string_view tool);

struct run_result_t {
  int status = -1;  // the exit status, 128 + the signal for a killed child, -1 not started
  std::string output;
  std::string errors;
};

// The texts' own buffers as an argument or environment vector for exec, ending in a null.
std::vector<char*> argv_pointers(std::vector<std::string>& arguments);

// Runs argv[0] (an absolute path) with argv, waits for it, and collects both output streams.
run_result_t run(const std::vector<std::string>& argv);

// Polls condition every 10 ms until it holds or timeout passes; its last answer.
bool eventually(const std::function<bool()>& condition,
                std::chrono::milliseconds timeout = std::chrono::seconds(5));

// The build tree the root was made from, and a program in its bin/.
std::string build_dir();
std::string build_program(std::string_view name);

// The helper daemon of the build tree, started as launchd would start it (detached, no
// arguments), and terminated and reaped when this object goes.
class helper_daemon_t {
 public:
  helper_daemon_t();
  ~helper_daemon_t();
  helper_daemon_t(const helper_daemon_t&) = delete;
  helper_daemon_t& operator=(const helper_daemon_t&) = delete;

  // True once the daemon listens on its socket; false when it did not start or has ended.
  bool wait_until_listening(std::chrono::milliseconds timeout = std::chrono::seconds(10));
  pid_t pid() const { return pid_; }
  // Waits for the daemon to end by itself; its exit status, nothing on time-out.
  std::optional<int> wait_for_exit(std::chrono::milliseconds timeout);

 private:
  pid_t pid_ = -1;
  std::optional<int> status_;
};

}  // namespace sandbox
