#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/base/command_line.h"
#include "tools/journal/journal_line.h"

// What every stand-in tool shares: the journal of calls, failure on demand, and the refusal to
// run anywhere but inside the throwaway root (their state lives at real system paths).
namespace standin {

inline constexpr const char* journal_path = "/var/run/standin.log";
inline constexpr const char* failure_directory = "/var/run/standin-fail";
// Created by the sandbox runner in the root's /etc; never present on a real system.
inline constexpr const char* sandbox_marker_path = "/etc/velmora-sandbox";

// The last path component: "launchctl" for "/bin/launchctl".
std::string_view tool_name(std::string_view tool_path);

// Appends the entry as one line, in one write under an exclusive lock.
bool append_to_journal(const journal_entry_t& entry);

// The exit status requested by /var/run/standin-fail/<name>: the number in the file, 1 when the
// file holds none; nothing when the file does not exist.
std::optional<int> requested_failure(std::string_view name);

using tool_body_t = std::function<int(const std::vector<std::string>& arguments)>;

// The main function of a stand-in: answers "--help" and refuses an unknown option anywhere,
// refuses to go on outside the root, journals the call, honours a requested failure, and
// otherwise returns what body returns.
int run_standin(std::string_view tool_path, const platform::command_line::syntax_t& syntax,
                int argc, char** argv, const tool_body_t& body);

}  // namespace standin
