#include "tests/sandbox/support.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <thread>

#include "platform/base/unique_fd.h"
#include "tests/support/files.h"
#include "tools/journal/standin.h"

namespace sandbox {
namespace {

using platform::unique_fd_t;

std::string failure_path(std::string_view tool) {
  return std::string(standin::failure_directory) + "/" + std::string(tool);
}

int decoded_status(int status) {
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return -1;
}

struct pipe_t {
  unique_fd_t read_end;
  unique_fd_t write_end;
};

std::optional<pipe_t> make_pipe() {
  std::array<int, 2> fds{};
  if (::pipe2(fds.data(), O_CLOEXEC) != 0) return std::nullopt;
  return pipe_t{unique_fd_t(fds[0]), unique_fd_t(fds[1])};
}

// Reads both streams to their end together, so that neither pipe fills up and blocks the child.
void drain(int output_fd, std::string& output, int errors_fd, std::string& errors) {
  std::array<pollfd, 2> streams{pollfd{output_fd, POLLIN, 0}, pollfd{errors_fd, POLLIN, 0}};
  std::array<std::string*, 2> targets{&output, &errors};
  std::array<char, 4096> buffer{};
  while (streams[0].fd >= 0 || streams[1].fd >= 0) {
    if (::poll(streams.data(), streams.size(), -1) < 0) return;
    for (std::size_t i = 0; i < streams.size(); ++i) {
      if (streams[i].fd < 0 || streams[i].revents == 0) continue;
      const auto length = ::read(streams[i].fd, buffer.data(), buffer.size());
      if (length <= 0) {
        streams[i].fd = -1;
      } else {
        targets[i]->append(buffer.data(), static_cast<std::size_t>(length));
      }
    }
  }
}

}  // namespace

std::vector<char*> argv_pointers(std::vector<std::string>& arguments) {
  std::vector<char*> pointers;
  pointers.reserve(arguments.size() + 1);
  for (auto& argument : arguments)
    pointers.push_back(argument.data());
  pointers.push_back(nullptr);
  return pointers;
}

bool inside_sandbox() {
  return ::access(standin::sandbox_marker_path, F_OK) == 0;
}

std::vector<journal_entry_t> read_journal() {
  std::vector<journal_entry_t> entries;
  std::ifstream journal(standin::journal_path);
  std::string line;
  while (std::getline(journal, line)) {
    if (auto entry = standin::parse_journal_line(line)) entries.push_back(std::move(*entry));
  }
  return entries;
}

std::vector<journal_entry_t> journal_calls_of(std::string_view tool_path) {
  auto entries = read_journal();
  std::erase_if(entries, [&](const journal_entry_t& entry) { return entry.tool != tool_path; });
  return entries;
}

void clear_journal() {
  ::truncate(standin::journal_path, 0);
}

void make_tool_fail(std::string_view tool, int status) {
  ::mkdir(standin::failure_directory, 0755);
  test_support::write_text(failure_path(tool), std::to_string(status) + "\n");
}

void let_tool_succeed(std::string_view tool) {
  ::unlink(failure_path(tool).c_str());
}

run_result_t run(const std::vector<std::string>& argv) {
  run_result_t result;
  auto output = make_pipe();
  auto errors = make_pipe();
  if (argv.empty() || !output || !errors) return result;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, output->write_end.get(), STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, errors->write_end.get(), STDERR_FILENO);
  auto arguments = argv;
  auto pointers = argv_pointers(arguments);
  pid_t pid = 0;
  const int error = posix_spawn(&pid, pointers[0], &actions, nullptr, pointers.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (error != 0) return result;
  output->write_end.reset();
  errors->write_end.reset();
  drain(output->read_end.get(), result.output, errors->read_end.get(), result.errors);
  int status = 0;
  if (::waitpid(pid, &status, 0) == pid) result.status = decoded_status(status);
  return result;
}

bool eventually(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!condition()) {
    if (std::chrono::steady_clock::now() >= deadline) return condition();
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

std::string build_dir() {
  const char* dir = std::getenv("VELMORA_BUILD_DIR");
  return dir != nullptr ? dir : "build";
}

std::string build_program(std::string_view name) {
  return build_dir() + "/bin/" + std::string(name);
}

helper_daemon_t::helper_daemon_t() {
  std::vector<std::string> arguments{build_program(helper_name)};
  auto pointers = argv_pointers(arguments);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);
  if (posix_spawn(&pid_, pointers[0], nullptr, &attributes, pointers.data(), environ) != 0) {
    pid_ = -1;
  }
  posix_spawnattr_destroy(&attributes);
}

helper_daemon_t::~helper_daemon_t() {
  if (pid_ <= 0 || status_) return;
  ::kill(pid_, SIGTERM);
  if (!wait_for_exit(std::chrono::seconds(5))) {
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
  }
}

std::optional<int> helper_daemon_t::wait_for_exit(std::chrono::milliseconds timeout) {
  if (pid_ <= 0) return std::nullopt;
  eventually(
      [&] {
        int status = 0;
        if (!status_ && ::waitpid(pid_, &status, WNOHANG) == pid_) {
          status_ = decoded_status(status);
        }
        return status_.has_value();
      },
      timeout);
  return status_;
}

bool helper_daemon_t::wait_until_listening(std::chrono::milliseconds timeout) {
  if (pid_ <= 0) return false;
  return eventually(
      [&] {
        struct stat info {};
        return !wait_for_exit(std::chrono::milliseconds(0)) &&
               ::stat(helper_socket_path, &info) == 0 && S_ISSOCK(info.st_mode);
      },
      timeout);
}

}  // namespace sandbox
