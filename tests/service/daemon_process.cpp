#include "tests/service/daemon_process.h"

#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "platform/xpc/wire.h"
#include "tests/sandbox/support.h"

namespace {

// The shell's own pid is the daemon's after exec, which is what LISTEN_PID must name.
std::string launch_script(const daemon_options_t& options) {
  std::string script = "exec";
  if (options.activated_socket >= 0) script = "LISTEN_PID=$$ LISTEN_FDS=1 exec";
  if (options.open_files) {
    // The soft limit first: the hard one may not go below it.
    script = "ulimit -S -n " + std::to_string(options.open_files->first) + " && ulimit -H -n " +
             std::to_string(options.open_files->second) + " && " + script;
  }
  if (options.user) {
    const std::string id = std::to_string(*options.user);
    script += " /usr/bin/setpriv --reuid " + id + " --regid " + id + " --clear-groups";
  }
  return script + " \"$0\"";
}

std::vector<std::string> environment_with(const std::vector<std::string>& extra) {
  std::vector<std::string> environment(extra);
  for (char** entry = environ; *entry != nullptr; ++entry)
    environment.emplace_back(*entry);
  return environment;
}

long entries_in(const std::string& directory) {
  std::error_code error;
  long count = 0;
  for (std::filesystem::directory_iterator it(directory, error), end; !error && it != end;
       it.increment(error))
    ++count;
  return count;
}

}  // namespace

daemon_process_t::daemon_process_t(const daemon_options_t& options) {
  const std::string program = sandbox::build_program(sandbox::helper_name);
  const std::string script = launch_script(options);
  std::vector<std::string> argv{"/bin/sh", "-c", script, program};
  auto args = sandbox::argv_pointers(argv);
  std::vector<std::string> environment = options.environment;
  auto env = sandbox::argv_pointers(environment);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (options.activated_socket >= 0) {
    posix_spawn_file_actions_adddup2(&actions, options.activated_socket, 3);
  }
  if (options.standard_output >= 0) {
    posix_spawn_file_actions_adddup2(&actions, options.standard_output, STDOUT_FILENO);
  }
  if (options.standard_error >= 0) {
    posix_spawn_file_actions_adddup2(&actions, options.standard_error, STDERR_FILENO);
  }
  if (::posix_spawn(&pid_, args[0], &actions, nullptr, args.data(), env.data()) != 0) pid_ = -1;
  posix_spawn_file_actions_destroy(&actions);
}

daemon_process_t::~daemon_process_t() {
  if (pid_ > 0 && !status_) {
    ::kill(pid_, SIGKILL);
    int status = 0;
    ::waitpid(pid_, &status, 0);
  }
}

std::optional<int> daemon_process_t::wait_exit(std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!status_ && pid_ > 0) {
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) == pid_) {
      status_ = status;
    } else if (std::chrono::steady_clock::now() >= deadline) {
      break;
    } else {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  }
  return status_;
}

platform::unique_fd_t listening_socket_at(const std::string& path) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, path.c_str(), sizeof(address.sun_path) - 1);
  ::unlink(path.c_str());
  platform::unique_fd_t fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (::bind(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0 ||
      ::listen(fd.get(), 16) != 0) {
    fd.reset();
  }
  return fd;
}

process_usage_t usage_of(pid_t pid) {
  const std::string proc = "/proc/" + std::to_string(pid);
  return {entries_in(proc + "/fd"), entries_in(proc + "/task")};
}

process_usage_t settled_usage(pid_t pid) {
  process_usage_t last = usage_of(pid);
  sandbox::eventually(
      [&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        const process_usage_t now = usage_of(pid);
        return std::exchange(last, now) == now;
      },
      std::chrono::seconds(10));
  return last;
}

process_usage_t usage_back_to(pid_t pid, const process_usage_t& baseline) {
  process_usage_t now;
  sandbox::eventually(
      [&] {
        now = usage_of(pid);
        return now == baseline;
      },
      std::chrono::seconds(15));
  return now;
}

// A line: level, date, time, component, [thread name], pid, thread id, name, "-", message.
std::vector<std::string> trace_lines_of(const std::string& trace_path, pid_t pid) {
  std::vector<std::string> lines;
  std::ifstream file(trace_path);
  for (std::string line; std::getline(file, line);) {
    const auto separator = line.find(" - ");
    if (separator == std::string::npos) continue;
    std::istringstream prefix(line.substr(0, separator));
    std::vector<std::string> fields;
    for (std::string field; prefix >> field;)
      fields.push_back(field);
    if (fields.size() < 7 || fields[fields.size() - 3] != std::to_string(pid)) continue;
    lines.push_back(fields[0] + " " + fields.back() + " - " + line.substr(separator + 3));
  }
  return lines;
}

bool has_line(const std::vector<std::string>& lines, const std::string& ending) {
  return std::ranges::any_of(lines, [&](const std::string& line) {
    return line.size() >= ending.size() &&
           line.compare(line.size() - ending.size(), ending.size(), ending) == 0;
  });
}

child_process_t& child_process_t::operator=(child_process_t&& other) noexcept {
  if (this != &other) {
    child_process_t ended(std::move(*this));
    pid_ = std::exchange(other.pid_, -1);
    status_ = std::exchange(other.status_, std::nullopt);
  }
  return *this;
}

child_process_t::~child_process_t() {
  if (pid_ <= 0 || wait_exit(std::chrono::seconds(5))) return;
  ::kill(pid_, SIGKILL);
  ::waitpid(pid_, nullptr, 0);
}

std::optional<int> child_process_t::wait_exit(std::chrono::milliseconds limit) {
  if (pid_ <= 0) return std::nullopt;
  sandbox::eventually(
      [&] {
        int status = 0;
        if (!status_ && ::waitpid(pid_, &status, WNOHANG) == pid_) status_ = status;
        return status_.has_value();
      },
      limit);
  return status_;
}

std::optional<child_process_t> start_relay(const std::string& socket_path,
                                           platform::unique_fd_t* stream,
                                           const std::vector<std::string>& arguments,
                                           const std::vector<std::string>& environment,
                                           std::optional<uid_t> user) {
  int ends[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) return std::nullopt;
  platform::unique_fd_t ours(ends[0]);
  const platform::unique_fd_t theirs(ends[1]);
  std::vector<std::string> argv;
  if (user) {
    const std::string id = std::to_string(*user);
    argv = {"/usr/bin/setpriv", "--reuid", id, "--regid", id, "--clear-groups"};
  }
  argv.push_back(signed_relay_path);
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  argv.push_back(socket_path);
  auto env = environment_with(environment);
  auto args = sandbox::argv_pointers(argv);
  auto envp = sandbox::argv_pointers(env);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, theirs.get(), STDIN_FILENO);
  posix_spawn_file_actions_adddup2(&actions, theirs.get(), STDOUT_FILENO);
  pid_t pid = -1;
  const int error = ::posix_spawn(&pid, args[0], &actions, nullptr, args.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (error != 0) return std::nullopt;
  *stream = std::move(ours);
  return child_process_t(pid);
}

bool accepted_within(int stream, std::chrono::seconds limit) {
  pollfd entry{stream, POLLIN, 0};
  if (::poll(&entry, 1, static_cast<int>(limit.count() * 1000)) != 1) return false;
  return platform::xpc_wire::frame_reader_t(stream, {}).read().status ==
         platform::xpc_wire::read_status_t::ok;
}

std::optional<signed_client_t> signed_client_t::connect(const std::string& socket_path,
                                                        const std::vector<std::string>& environment,
                                                        velmora_client_t::connect_status_t* status,
                                                        std::optional<uid_t> user) {
  platform::unique_fd_t stream;
  auto relay = start_relay(socket_path, &stream, {}, environment, user);
  if (!relay) return std::nullopt;
  auto client = velmora_client_t::accepted_on(std::move(stream), status);
  if (!client) return std::nullopt;
  return signed_client_t(std::move(*client), std::move(*relay));
}

signed_client_t::~signed_client_t() {
  ::shutdown(socket(), SHUT_RDWR);
}
