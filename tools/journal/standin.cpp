#include "tools/journal/standin.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <charconv>
#include <cstdio>
#include <fstream>

#include "platform/base/unique_fd.h"

namespace standin {

std::string_view tool_name(std::string_view tool_path) {
  const auto slash = tool_path.rfind('/');
  return slash == std::string_view::npos ? tool_path : tool_path.substr(slash + 1);
}

bool append_to_journal(const journal_entry_t& entry) {
  platform::unique_fd_t fd(::open(journal_path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644));
  if (!fd || ::flock(fd.get(), LOCK_EX) != 0) return false;
  const auto line = format_journal_line(entry);
  return ::write(fd.get(), line.data(), line.size()) == static_cast<ssize_t>(line.size());
}

std::optional<int> requested_failure(std::string_view name) {
  std::ifstream file(std::string(failure_directory) + "/" + std::string(name));
  if (!file) return std::nullopt;
  std::string text;
  file >> text;
  int status = 1;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), status);
  if (error != std::errc() || end != text.data() + text.size() || status < 0 || status > 255) {
    return 1;
  }
  return status;
}

int run_standin(std::string_view tool_path, const platform::command_line::syntax_t& syntax,
                int argc, char** argv, const tool_body_t& body) {
  if (const auto status = platform::command_line::check(argc, argv, syntax)) return *status;
  const auto name = tool_name(tool_path);
  if (::access(sandbox_marker_path, F_OK) != 0) {
    std::fprintf(stderr, "%.*s: stand-in refuses to run outside the throwaway root\n",
                 static_cast<int>(name.size()), name.data());
    return 70;
  }
  journal_entry_t call{std::string(tool_path), {argv + 1, argv + argc}};
  if (!append_to_journal(call)) {
    std::fprintf(stderr, "%.*s: cannot append to %s\n", static_cast<int>(name.size()), name.data(),
                 journal_path);
  }
  if (const auto status = requested_failure(name)) return *status;
  return body(call.arguments);
}

}  // namespace standin
