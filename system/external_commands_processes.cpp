// The wrappers that look for processes: by command line, by kill, by network browse.

#include <algorithm>
#include <chrono>
#include <thread>

#include "system/external_commands.h"
#include "system/task_shell_extensions.h"
#include "system/text_components.h"

namespace {

bool has_field(const std::vector<std::string>& fields, const std::string& word) {
  return std::find(fields.begin(), fields.end(), word) != fields.end();
}

// The process number: the first field that is not empty (ps pads it with blanks on the left).
std::string first_field(const std::vector<std::string>& fields) {
  const auto field = std::find_if(fields.begin(), fields.end(),
                                  [](const std::string& text) { return !text.empty(); });
  return field != fields.end() ? *field : std::string();
}

std::size_t count_processes_by_path(const std::string& path) {
  const auto processes = ExternalCommands::processes_by_path(path);
  return processes ? processes->size() : 0;
}

std::string joined(std::vector<std::string>::const_iterator first,
                   std::vector<std::string>::const_iterator last, const std::string& separator) {
  std::string text;
  for (auto piece = first; piece != last; ++piece) {
    if (piece != first) text += separator;
    text += *piece;
  }
  return text;
}

}  // namespace

std::optional<std::vector<std::string>> ExternalCommands::processes_by_path(
    const std::string& path) {
  // The path reaches the shell as its first positional parameter and grep as a pattern after
  // "--": no path can add shell commands or grep options. The shell's own command line still
  // holds both the path and the word grep, so it is dropped with the grep line below.
  platform::task_t task("/bin/sh", {"-c", "ps -o pid,args -A | grep -- \"$1\"", "sh", path});
  const auto output = syncStdOutExecute(task);
  if (!output) return std::nullopt;

  std::vector<std::string> processes;
  for (const auto& line : components_separated_by_newlines(*output)) {
    const auto fields = components_separated_by_whitespace(line);
    if (has_field(fields, "grep") || fields.size() < 2) continue;
    processes.push_back(first_field(fields));
  }
  return processes;
}

bool ExternalCommands::kill_bundle_by_path(const std::string& bundle_path) {
  if (syncExec("/bin/bash", {"-c", "/usr/bin/killall Velmora"}) != 0) return false;

  double elapsed = 0.0;
  std::size_t count = 0;
  do {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    elapsed += 0.2;
    count = count_processes_by_path(bundle_path);
  } while (elapsed < 5.0 && count != 0);
  return count == 0;
}

bool ExternalCommands::detect_sleep_proxy(int timeout_seconds) {
  platform::task_t task("/usr/bin/dns-sd", {"-B", "_sleep-proxy._udp", "local"});
  const auto output = syncStdOutExecuteWithTimeout(task, static_cast<double>(timeout_seconds));
  if (!output) return false;

  const auto lines = components_separated_by_newlines(*output);
  if (lines.size() < 3) return false;
  return joined(lines.begin() + 1, lines.end(), "\n").find("_sleep-proxy._udp") !=
         std::string::npos;
}
