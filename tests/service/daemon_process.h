#pragma once

#include <sys/resource.h>
#include <sys/types.h>

#include <chrono>
#include <optional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "client/velmora_client.h"
#include "platform/base/unique_fd.h"

// The helper daemon started the way each test needs it: with a given environment, as another
// user, or with a socket handed over by socket activation. Killed and reaped when it goes.
struct daemon_options_t {
  std::vector<std::string> environment{"PATH=/usr/bin:/bin:/usr/sbin:/sbin"};
  std::optional<uid_t> user;  // switches uid and gid to this id before the exec
  int activated_socket = -1;  // becomes descriptor 3, announced by LISTEN_PID/LISTEN_FDS
  int standard_output = -1;   // where its standard output goes; inherited when -1
  int standard_error = -1;    // where its standard error goes; inherited when -1
  // Soft and hard limits on open files to start with; inherited when absent.
  std::optional<std::pair<rlim_t, rlim_t>> open_files;
};

class daemon_process_t {
 public:
  explicit daemon_process_t(const daemon_options_t& options);
  daemon_process_t(const daemon_process_t&) = delete;
  daemon_process_t& operator=(const daemon_process_t&) = delete;
  ~daemon_process_t();

  pid_t pid() const { return pid_; }
  // The raw wait status once it has ended; nothing while it still runs at the deadline.
  std::optional<int> wait_exit(std::chrono::milliseconds limit);

 private:
  pid_t pid_ = -1;
  std::optional<int> status_;
};

// A listening socket at path, as a service manager would pass it.
platform::unique_fd_t listening_socket_at(const std::string& path);

// What a process holds: open descriptors and threads.
struct process_usage_t {
  long descriptors = 0;
  long threads = 0;
  bool operator==(const process_usage_t&) const = default;
  friend std::ostream& operator<<(std::ostream& out, const process_usage_t& usage) {
    return out << usage.descriptors << " descriptors, " << usage.threads << " threads";
  }
};
process_usage_t usage_of(pid_t pid);
// The usage once it has stopped changing (a thread of the daemon's start may still be running).
process_usage_t settled_usage(pid_t pid);
// Waits a while for the usage to come back to baseline; the usage last seen.
process_usage_t usage_back_to(pid_t pid, const process_usage_t& baseline);

// The messages of the trace lines that process pid wrote to the trace file, in order, each as
// "<level> <name> - <message>".
std::vector<std::string> trace_lines_of(const std::string& trace_path, pid_t pid);
bool has_line(const std::vector<std::string>& lines, const std::string& ending);

// The clients that the throwaway root signs as the desktop application.
inline constexpr const char* signed_client_path = "/opt/velmora/Velmora.app/Contents/MacOS/Velmora";
inline constexpr const char* signed_relay_path = "/opt/velmora/Relay.app/Contents/MacOS/Relay";

// A started process, reaped when this object goes; killed when it has not ended by itself
// within a few seconds.
class child_process_t {
 public:
  child_process_t() = default;
  explicit child_process_t(pid_t pid) : pid_(pid) {}
  child_process_t(child_process_t&& other) noexcept : pid_(std::exchange(other.pid_, -1)) {}
  child_process_t& operator=(child_process_t&& other) noexcept;
  ~child_process_t();

  pid_t pid() const { return pid_; }
  // The raw wait status once it has ended; nothing while it still runs at the deadline.
  std::optional<int> wait_exit(std::chrono::milliseconds limit);

 private:
  pid_t pid_ = -1;
  std::optional<int> status_;
};

// The signed relay started on socket_path with one end of a socket pair as its standard input
// and output; the other end is returned in *stream. arguments go before the socket path. With a
// user, the relay runs as that user (and group of the same id).
std::optional<child_process_t> start_relay(const std::string& socket_path,
                                           platform::unique_fd_t* stream,
                                           const std::vector<std::string>& arguments = {},
                                           const std::vector<std::string>& environment = {},
                                           std::optional<uid_t> user = std::nullopt);

// The relay's acceptance frame, passed on to its stream; false when the helper closed instead
// or nothing came in time.
bool accepted_within(int stream, std::chrono::seconds limit);

// A client of the helper whose connection the signed relay made: the helper sees the relay as
// its client, the test calls through the relay's standard streams.
class signed_client_t : public velmora_client_t {
 public:
  // environment: extra NAME=VALUE entries for the relay.
  // user: the relay runs as this user instead of root.
  static std::optional<signed_client_t> connect(
      const std::string& socket_path, const std::vector<std::string>& environment = {},
      velmora_client_t::connect_status_t* status = nullptr,
      std::optional<uid_t> user = std::nullopt);
  signed_client_t(signed_client_t&&) noexcept = default;
  signed_client_t& operator=(signed_client_t&&) noexcept = default;
  // Ends the stream first, so that the relay closes its connection and ends by itself.
  ~signed_client_t();

  pid_t relay_pid() const { return relay_.pid(); }

 private:
  signed_client_t(velmora_client_t client, child_process_t relay)
      : velmora_client_t(std::move(client)), relay_(std::move(relay)) {}

  child_process_t relay_;
};
