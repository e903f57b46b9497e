#include "platform/authorization/authorization_agent.h"

#include <fcntl.h>
#include <openssl/crypto.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <vector>

#include "platform/base/unique_fd.h"

namespace platform::authorization {
namespace {

// A user name and a password never come near this; more is not an answer.
constexpr std::size_t kMaximumOutput = std::size_t{64} * 1024;

void wipe(std::string& secret) {
  if (!secret.empty()) OPENSSL_cleanse(secret.data(), secret.size());
  secret.clear();
}

struct file_actions_t {
  file_actions_t() { valid = posix_spawn_file_actions_init(&actions) == 0; }
  file_actions_t(const file_actions_t&) = delete;
  file_actions_t& operator=(const file_actions_t&) = delete;
  ~file_actions_t() {
    if (valid) posix_spawn_file_actions_destroy(&actions);
  }
  posix_spawn_file_actions_t actions{};
  bool valid = false;
};

// A started child that is always reaped, however the caller leaves.
class child_t {
 public:
  explicit child_t(pid_t pid) : pid_(pid) {}
  child_t(const child_t&) = delete;
  child_t& operator=(const child_t&) = delete;
  ~child_t() { wait(); }

  // The exit status, or -1 when it did not exit normally.
  int wait() {
    if (pid_ <= 0) return status_;
    int raw = 0;
    pid_t reaped = 0;
    do {
      reaped = ::waitpid(pid_, &raw, 0);
    } while (reaped < 0 && errno == EINTR);
    pid_ = 0;
    status_ = reaped > 0 && WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    return status_;
  }

 private:
  pid_t pid_;
  int status_ = -1;
};

// Everything the descriptor yields until end of file; false when it says too much.
bool read_all(int fd, std::string& output) {
  std::array<char, 4096> chunk{};
  for (;;) {
    const ssize_t got = ::read(fd, chunk.data(), chunk.size());
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return got == 0;
    output.append(chunk.data(), static_cast<std::size_t>(got));
    if (output.size() > kMaximumOutput) return false;
  }
}

}  // namespace

agent_answer_t::~agent_answer_t() {
  wipe(password);
}

agent_answer_t parse_agent_output(const std::string& output) {
  const std::size_t user_end = output.find('\n');
  if (user_end == std::string::npos || user_end == 0) return agent_answer_t::kind_t::failed;
  const std::size_t password_end = output.find('\n', user_end + 1);
  // The password line may lack its newline; nothing may follow it.
  if (password_end != std::string::npos && password_end + 1 != output.size()) {
    return agent_answer_t::kind_t::failed;
  }
  agent_answer_t answer(agent_answer_t::kind_t::credentials);
  answer.user = output.substr(0, user_end);
  answer.password =
      output.substr(user_end + 1, password_end == std::string::npos ? std::string::npos
                                                                    : password_end - user_end - 1);
  return answer;
}

agent_answer_t run_authorization_agent(const std::string& agent_path, const std::string& right,
                                       const std::string& description) {
  std::array<int, 2> ends{};
  if (::pipe2(ends.data(), O_CLOEXEC) != 0) return agent_answer_t::kind_t::failed;
  unique_fd_t read_end(ends[0]);
  unique_fd_t write_end(ends[1]);

  file_actions_t files;
  if (!files.valid ||
      posix_spawn_file_actions_addopen(&files.actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0) !=
          0 ||
      posix_spawn_file_actions_adddup2(&files.actions, write_end.get(), STDOUT_FILENO) != 0) {
    return agent_answer_t::kind_t::failed;
  }
  std::vector<std::string> arguments{agent_path, right, description};
  std::vector<char*> argv;
  argv.reserve(arguments.size() + 1);
  for (std::string& argument : arguments)
    argv.push_back(argument.data());
  argv.push_back(nullptr);

  pid_t pid = 0;
  if (posix_spawn(&pid, agent_path.c_str(), &files.actions, nullptr, argv.data(), environ) != 0) {
    return agent_answer_t::kind_t::failed;
  }
  child_t agent(pid);
  write_end.reset();  // so the read ends when the agent does

  std::string output;
  const bool complete = read_all(read_end.get(), output);
  read_end.reset();  // an agent still writing gets SIGPIPE instead of blocking forever
  const int status = agent.wait();
  agent_answer_t answer = agent_answer_t::kind_t::failed;
  if (status == 1) {
    answer = agent_answer_t::kind_t::cancelled;
  } else if (status == 0 && complete) {
    answer = parse_agent_output(output);
  }
  wipe(output);
  return answer;
}

}  // namespace platform::authorization
