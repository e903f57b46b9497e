#pragma once

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

// Administrator authentication through polkit on the system bus: the session's authentication
// agent (the desktop's dialog, or pkttyagent on a terminal) asks for the password, so it never
// passes through this process.
namespace platform::authorization {

// Our actions (dist/polkit): one per right the helper guards a request with, named like the
// right, and one for every other right.
inline constexpr const char* kPolkitActionPrefix = "com.corvantix.Velmora.Helper.";
inline constexpr const char* kPolkitOtherRightsAction =
    "com.corvantix.Velmora.Helper.authenticate-admin";

// A process as polkit names it: its start time tells a reused pid apart.
struct polkit_subject_t {
  pid_t pid = 0;
  std::uint64_t start_time = 0;  // clock ticks after boot, /proc/<pid>/stat field 22
  uid_t uid = 0;
};

// Nothing when the process is gone. pidfd (when not -1) pins the process: a pid that was
// reused while the start time was read is not taken for it.
std::optional<polkit_subject_t> polkit_subject_of(pid_t pid, uid_t uid, int pidfd);

// The start time field of a /proc/<pid>/stat text.
std::optional<std::uint64_t> start_time_of_stat(const std::string& stat);

enum class polkit_answer_t {
  authorized,
  not_authorized,  // a wrong password, someone who is no administrator, or the agent went away
  dismissed,       // the user cancelled the dialog
  no_agent,        // polkit could ask, but no agent serves the subject
  failed,          // no system bus, no polkitd, or an error from it
};

struct polkit_result_t {
  polkit_answer_t answer = polkit_answer_t::failed;
  std::string error;  // what failed, for the trace
};

using polkit_details_t = std::vector<std::pair<std::string, std::string>>;

// The action that stands for a right.
std::string polkit_action_for_right(const std::string& right);

// How polkit's (is_authorized, is_challenge, details) answer reads. A challenge is never a
// grant: with interaction allowed it means that nobody could be asked.
polkit_answer_t polkit_answer_of(bool is_authorized, bool is_challenge, bool dismissed);

// CheckAuthorization with user interaction allowed; waits for the user's answer.
polkit_result_t polkit_check_authorization(const polkit_subject_t& subject,
                                           const std::string& action,
                                           const polkit_details_t& details);

}  // namespace platform::authorization
