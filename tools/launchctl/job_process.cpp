#include "tools/launchctl/job_process.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>

#include <cstring>
#include <fstream>
#include <sstream>

namespace standin {
namespace {

// posix_spawn's attributes and file actions, destroyed with the scope.
class spawn_setup_t {
 public:
  spawn_setup_t() {
    posix_spawnattr_init(&attributes_);
    posix_spawn_file_actions_init(&actions_);
  }
  ~spawn_setup_t() {
    posix_spawn_file_actions_destroy(&actions_);
    posix_spawnattr_destroy(&attributes_);
  }
  spawn_setup_t(const spawn_setup_t&) = delete;
  spawn_setup_t& operator=(const spawn_setup_t&) = delete;

  posix_spawnattr_t* attributes() { return &attributes_; }
  posix_spawn_file_actions_t* actions() { return &actions_; }

 private:
  posix_spawnattr_t attributes_{};
  posix_spawn_file_actions_t actions_{};
};

// A new session, an empty signal mask and default dispositions: nothing of launchctl's caller
// leaks into the job.
void detach(spawn_setup_t& setup) {
  sigset_t signals;
  sigemptyset(&signals);
  posix_spawnattr_setsigmask(setup.attributes(), &signals);
  sigfillset(&signals);
  sigdelset(&signals, SIGKILL);
  sigdelset(&signals, SIGSTOP);
  posix_spawnattr_setsigdefault(setup.attributes(), &signals);
  posix_spawnattr_setflags(setup.attributes(),
                           POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
}

void redirect(spawn_setup_t& setup, const job_t& job) {
  posix_spawn_file_actions_addopen(setup.actions(), STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  const auto output = [&](int fd, const std::string& path) {
    const char* target = path.empty() ? "/dev/null" : path.c_str();
    posix_spawn_file_actions_addopen(setup.actions(), fd, target, O_WRONLY | O_CREAT | O_APPEND,
                                     0644);
  };
  output(STDOUT_FILENO, job.standard_out_path);
  output(STDERR_FILENO, job.standard_error_path);
  if (!job.working_directory.empty()) {
    posix_spawn_file_actions_addchdir_np(setup.actions(), job.working_directory.c_str());
  }
}

}  // namespace

std::optional<std::uint64_t> process_start_time(pid_t pid) {
  std::ifstream file("/proc/" + std::to_string(pid) + "/stat");
  std::string text(std::istreambuf_iterator<char>(file), {});
  // The command name in parentheses may hold anything; the fields follow its last ')'.
  const auto name_end = text.rfind(')');
  if (name_end == std::string::npos) return std::nullopt;
  std::istringstream fields(text.substr(name_end + 1));
  std::string state;
  fields >> state;
  if (state == "Z" || state == "X") return std::nullopt;
  // Fields 4 to 21 come before the start time, field 22.
  std::string skipped;
  for (int field = 4; field <= 21; ++field)
    fields >> skipped;
  std::uint64_t start_time = 0;
  if (!(fields >> start_time)) return std::nullopt;
  return start_time;
}

std::variant<process_ref_t, spawn_error_t> spawn_job(const job_t& job) {
  auto arguments = job.program_arguments;
  const auto program = job.program.empty() ? arguments.front() : job.program;
  if (arguments.empty()) arguments.push_back(program);
  std::vector<char*> argv;
  argv.reserve(arguments.size() + 1);
  for (auto& argument : arguments)
    argv.push_back(argument.data());
  argv.push_back(nullptr);

  spawn_setup_t setup;
  detach(setup);
  redirect(setup, job);
  pid_t pid = 0;
  const int error = posix_spawnp(&pid, program.c_str(), setup.actions(), setup.attributes(),
                                 argv.data(), environ);
  if (error != 0) return spawn_error_t{program + ": " + std::strerror(error)};
  return process_ref_t{pid, process_start_time(pid).value_or(0)};
}

bool is_running(const process_ref_t& process) {
  return process.pid > 0 && process_start_time(process.pid) == process.start_time;
}

bool terminate(const process_ref_t& process) {
  return is_running(process) && ::kill(process.pid, SIGTERM) == 0;
}

}  // namespace standin
