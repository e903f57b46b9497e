#include "tests/platform/authorization/tty_agent.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <string>
#include <thread>

namespace tty_agent {
namespace {

using clock_t_ = std::chrono::steady_clock;

void reap(pid_t pid) {
  if (pid <= 0) return;
  ::kill(pid, SIGKILL);
  while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
  }
}

}  // namespace

subject_process_t::subject_process_t(uid_t user) : user_(user) {
  pid_ = ::fork();
  if (pid_ == 0) {
    if (::setgid(user) != 0 || ::setuid(user) != 0) ::_exit(2);
    for (;;)
      ::pause();
  }
}

subject_process_t::~subject_process_t() {
  reap(pid_);
}

agent_t::agent_t(pid_t subject) {
  std::array<int, 2> notify{};
  if (::pipe(notify.data()) != 0) return;
  pid_ = ::forkpty(&terminal_, nullptr, nullptr, nullptr);
  if (pid_ == 0) {
    ::close(notify[0]);
    const std::string process = std::to_string(subject);
    const std::string fd = std::to_string(notify[1]);
    ::execlp("pkttyagent", "pkttyagent", "--process", process.c_str(), "--notify-fd", fd.c_str(),
             static_cast<char*>(nullptr));
    ::_exit(127);
  }
  ::close(notify[1]);
  notify_ = notify[0];
}

agent_t::~agent_t() {
  reap(pid_);
  if (terminal_ >= 0) ::close(terminal_);
  if (notify_ >= 0) ::close(notify_);
}

bool agent_t::wait_registered() {
  if (notify_ < 0) return false;
  pollfd entry{notify_, POLLIN, 0};
  if (::poll(&entry, 1, 20000) != 1) return false;
  char byte = 0;
  const bool closed = ::read(notify_, &byte, 1) == 0;
  ::close(notify_);
  notify_ = -1;
  return closed;
}

bool agent_t::read_some(std::chrono::milliseconds limit) {
  pollfd entry{terminal_, POLLIN, 0};
  if (::poll(&entry, 1, static_cast<int>(limit.count())) != 1) return false;
  std::array<char, 1024> chunk{};
  const ssize_t got = ::read(terminal_, chunk.data(), chunk.size());
  if (got <= 0) return false;
  screen_.append(chunk.data(), static_cast<std::size_t>(got));
  return true;
}

bool agent_t::wait_for(const std::string& text, std::chrono::milliseconds limit) {
  const auto deadline = clock_t_::now() + limit;
  std::size_t found = std::string::npos;
  while ((found = screen_.find(text, seen_)) == std::string::npos) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - clock_t_::now());
    if (left.count() <= 0 || !read_some(left)) return false;
  }
  seen_ = found + text.size();
  return true;
}

bool agent_t::type_password(const std::string& password) {
  if (!wait_for("Password:")) return false;
  const auto deadline = clock_t_::now() + std::chrono::seconds(5);
  for (;;) {
    termios mode{};
    if (::tcgetattr(terminal_, &mode) != 0) return false;
    if ((mode.c_lflag & ECHO) == 0) break;
    if (clock_t_::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  const std::string line = password + "\n";
  return ::write(terminal_, line.data(), line.size()) == static_cast<ssize_t>(line.size());
}

void agent_t::close_terminal() {
  ::close(terminal_);
  terminal_ = -1;
  reap(pid_);
  pid_ = -1;
}

}  // namespace tty_agent
