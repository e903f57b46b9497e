#include "platform/authorization/polkit.h"

#include <fcntl.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>

#include "platform/base/pidfd.h"

namespace platform::authorization {
namespace {

constexpr const char* kPolkitService = "org.freedesktop.PolicyKit1";
constexpr const char* kPolkitPath = "/org/freedesktop/PolicyKit1/Authority";
constexpr const char* kPolkitInterface = "org.freedesktop.PolicyKit1.Authority";
constexpr std::uint32_t kAllowUserInteraction = 1;
// A person answers the dialog; past this the request is given up and the dialog withdrawn.
constexpr std::uint64_t kAnswerTimeoutUsec = std::uint64_t{10} * 60 * 1000 * 1000;

struct bus_closer_t {
  void operator()(sd_bus* bus) const { sd_bus_flush_close_unref(bus); }
};
struct message_unref_t {
  void operator()(sd_bus_message* message) const { sd_bus_message_unref(message); }
};
using bus_ptr_t = std::unique_ptr<sd_bus, bus_closer_t>;
using message_ptr_t = std::unique_ptr<sd_bus_message, message_unref_t>;

struct bus_error_t {
  bus_error_t() = default;
  bus_error_t(const bus_error_t&) = delete;
  bus_error_t& operator=(const bus_error_t&) = delete;
  ~bus_error_t() { sd_bus_error_free(&error); }
  sd_bus_error error = SD_BUS_ERROR_NULL;
};

polkit_result_t failure(std::string what, int negative_errno) {
  return {polkit_answer_t::failed, std::move(what) + ": " + std::strerror(-negative_errno)};
}

std::string cancellation_id() {
  static std::atomic<std::uint64_t> next{0};
  return "velmora-helper-" + std::to_string(::getpid()) + "-" + std::to_string(++next);
}

// ("unix-process", {pid, start-time, uid}): the shape polkitd's unix-process subject takes.
int append_subject(sd_bus_message* m, const polkit_subject_t& subject) {
  return sd_bus_message_append(
      m, "(sa{sv})", "unix-process", 3, "pid", "u", static_cast<std::uint32_t>(subject.pid),
      "start-time", "t", subject.start_time, "uid", "i", static_cast<std::int32_t>(subject.uid));
}

int append_details(sd_bus_message* m, const polkit_details_t& details) {
  int r = sd_bus_message_open_container(m, 'a', "{ss}");
  for (const auto& [key, value] : details) {
    if (r >= 0) r = sd_bus_message_append(m, "{ss}", key.c_str(), value.c_str());
  }
  return r >= 0 ? sd_bus_message_close_container(m) : r;
}

// Reads (bba{ss}) and whether its details say "polkit.dismissed".
int read_result(sd_bus_message* reply, int* authorized, int* challenge, bool* dismissed) {
  int r = sd_bus_message_enter_container(reply, 'r', "bba{ss}");
  if (r >= 0) r = sd_bus_message_read(reply, "bb", authorized, challenge);
  if (r >= 0) r = sd_bus_message_enter_container(reply, 'a', "{ss}");
  while (r >= 0) {
    const char* key = nullptr;
    const char* value = nullptr;
    r = sd_bus_message_read(reply, "{ss}", &key, &value);
    if (r <= 0) break;
    if (std::strcmp(key, "polkit.dismissed") == 0 && std::strcmp(value, "") != 0) {
      *dismissed = true;
    }
  }
  if (r >= 0) r = sd_bus_message_exit_container(reply);
  if (r >= 0) r = sd_bus_message_exit_container(reply);
  return r;
}

// Withdraws the dialog of a check we stopped waiting for.
void cancel_check(sd_bus* bus, const std::string& id) {
  sd_bus_call_method(bus, kPolkitService, kPolkitPath, kPolkitInterface, "CancelCheckAuthorization",
                     nullptr, nullptr, "s", id.c_str());
}

}  // namespace

std::optional<std::uint64_t> start_time_of_stat(const std::string& stat) {
  // The command name in parentheses may hold spaces and parentheses: fields count from the last
  // ')', which ends field 2.
  const std::size_t name_end = stat.rfind(')');
  if (name_end == std::string::npos) return std::nullopt;
  std::istringstream fields(stat.substr(name_end + 1));
  std::string field;
  for (int number = 3; number <= 22; ++number) {
    if (!(fields >> field)) return std::nullopt;
  }
  std::uint64_t start_time = 0;
  const auto [end, error] = std::from_chars(field.data(), field.data() + field.size(), start_time);
  if (error != std::errc() || end != field.data() + field.size()) return std::nullopt;
  return start_time;
}

std::optional<polkit_subject_t> polkit_subject_of(pid_t pid, uid_t uid, int pidfd) {
  std::ifstream file("/proc/" + std::to_string(pid) + "/stat");
  std::string stat;
  if (!std::getline(file, stat)) return std::nullopt;
  const std::optional<std::uint64_t> start_time = start_time_of_stat(stat);
  if (!start_time) return std::nullopt;
  if (pidfd >= 0 && !signal_pidfd(pidfd, 0)) return std::nullopt;
  return polkit_subject_t{pid, *start_time, uid};
}

std::string polkit_action_for_right(const std::string& right) {
  const bool ours =
      right.starts_with(kPolkitActionPrefix) &&
      right.find_first_not_of("abcdefghijklmnopqrstuvwxyz_", std::strlen(kPolkitActionPrefix)) ==
          std::string::npos &&
      right.size() > std::strlen(kPolkitActionPrefix);
  return ours ? right : kPolkitOtherRightsAction;
}

polkit_answer_t polkit_answer_of(bool is_authorized, bool is_challenge, bool dismissed) {
  if (is_authorized && !is_challenge) return polkit_answer_t::authorized;
  if (dismissed) return polkit_answer_t::dismissed;
  if (is_challenge) return polkit_answer_t::no_agent;
  return polkit_answer_t::not_authorized;
}

polkit_result_t polkit_check_authorization(const polkit_subject_t& subject,
                                           const std::string& action,
                                           const polkit_details_t& details) {
  sd_bus* raw_bus = nullptr;
  int r = sd_bus_open_system(&raw_bus);
  bus_ptr_t bus(raw_bus);
  if (r < 0) return failure("cannot connect to the system bus", r);

  sd_bus_message* raw_call = nullptr;
  r = sd_bus_message_new_method_call(bus.get(), &raw_call, kPolkitService, kPolkitPath,
                                     kPolkitInterface, "CheckAuthorization");
  message_ptr_t call(raw_call);
  const std::string id = cancellation_id();
  if (r >= 0) r = append_subject(call.get(), subject);
  if (r >= 0) r = sd_bus_message_append(call.get(), "s", action.c_str());
  if (r >= 0) r = append_details(call.get(), details);
  if (r >= 0) r = sd_bus_message_append(call.get(), "us", kAllowUserInteraction, id.c_str());
  if (r < 0) return failure("cannot build the polkit request", r);

  bus_error_t error;
  sd_bus_message* raw_reply = nullptr;
  r = sd_bus_call(bus.get(), call.get(), kAnswerTimeoutUsec, &error.error, &raw_reply);
  message_ptr_t reply(raw_reply);
  if (r < 0) {
    if (r == -ETIMEDOUT) cancel_check(bus.get(), id);
    if (sd_bus_error_is_set(&error.error)) {
      return {polkit_answer_t::failed, std::string("polkit CheckAuthorization failed: ") +
                                           error.error.name + ": " +
                                           (error.error.message ? error.error.message : "")};
    }
    return failure("polkit CheckAuthorization failed", r);
  }
  int authorized = 0;
  int challenge = 0;
  bool dismissed = false;
  r = read_result(reply.get(), &authorized, &challenge, &dismissed);
  if (r < 0) return failure("unreadable answer from polkit", r);
  return {polkit_answer_of(authorized != 0, challenge != 0, dismissed), {}};
}

}  // namespace platform::authorization
