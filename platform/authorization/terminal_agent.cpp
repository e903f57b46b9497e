#include "platform/authorization/terminal_agent.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <systemd/sd-login.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>

#include "platform/base/spawn.h"
#include "platform/base/unique_fd.h"

namespace platform::authorization {
namespace {

// The descriptor the agent closes once it has registered.
constexpr int kNotifyDescriptor = 3;

bool fail(std::string* error, std::string text) {
  if (error != nullptr) *error = std::move(text);
  return false;
}

// Waits until the write end is closed by everyone: the agent registered, or it ended.
void wait_for_close(int read_end) {
  pollfd entry{read_end, POLLIN, 0};
  for (;;) {
    const int ready = ::poll(&entry, 1, -1);
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return;
    char byte = 0;
    const ssize_t got = ::read(read_end, &byte, 1);
    if (got == 0 || (got < 0 && errno != EINTR && errno != EAGAIN)) return;
  }
}

bool in_login_session() {
  char* session = nullptr;
  const bool found = sd_pid_get_session(0, &session) >= 0;
  std::free(session);
  return found;
}

bool exited(pid_t pid) {
  int status = 0;
  return ::waitpid(pid, &status, WNOHANG) == pid;
}

}  // namespace

terminal_agent_t terminal_agent_t::start_if_on_terminal(std::string* error) {
  if (::geteuid() == 0 || ::isatty(STDIN_FILENO) == 0) return {};
  std::array<int, 2> ends{};
  if (::pipe2(ends.data(), O_CLOEXEC) != 0) {
    fail(error, std::string("no pipe for the agent: ") + std::strerror(errno));
    return {};
  }
  unique_fd_t read_end(ends[0]);
  unique_fd_t write_end(ends[1]);

  spawn_file_actions_t files;
  if (!files.pass_descriptor(write_end.get(), kNotifyDescriptor)) {
    fail(error, "cannot pass the notify descriptor to the agent");
    return {};
  }
  const spawn_attributes_t attributes;
  const std::string process = std::to_string(::getpid());
  const std::string notify = std::to_string(kNotifyDescriptor);
  std::vector<const char*> argv{kTerminalAgentPath, "--process", process.c_str(), "--notify-fd",
                                notify.c_str()};
  // polkitd consults a fallback agent only after the agent of the subject's login session; a
  // process outside any session would never reach it.
  if (in_login_session()) argv.push_back("--fallback");
  argv.push_back(nullptr);
  pid_t pid = 0;
  const int spawned = posix_spawn(&pid, kTerminalAgentPath, files.get(), attributes.get(),
                                  const_cast<char* const*>(argv.data()), environ);
  if (spawned != 0) {
    fail(error, std::string("cannot start ") + kTerminalAgentPath + ": " + std::strerror(spawned));
    return {};
  }
  write_end.reset();
  wait_for_close(read_end.get());
  if (exited(pid)) {
    fail(error, std::string(kTerminalAgentPath) + " ended without registering");
    return {};
  }
  return terminal_agent_t(pid);
}

terminal_agent_t::terminal_agent_t(terminal_agent_t&& other) noexcept
    : pid_(std::exchange(other.pid_, -1)) {}

terminal_agent_t& terminal_agent_t::operator=(terminal_agent_t&& other) noexcept {
  if (this != &other) {
    stop();
    pid_ = std::exchange(other.pid_, -1);
  }
  return *this;
}

terminal_agent_t::~terminal_agent_t() {
  stop();
}

void terminal_agent_t::stop() {
  if (pid_ <= 0) return;
  ::kill(pid_, SIGTERM);
  while (::waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {
  }
  pid_ = -1;
}

}  // namespace platform::authorization
