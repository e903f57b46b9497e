// The helper daemon itself, inside the throwaway root: trace placement, the protocol on the real
// socket, malformed input, socket activation, the embedded lists and the command-line client.
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <thread>

#include "client/velmora_client.h"
#include "platform/foundation/bundle.h"
#include "platform/xpc/arguments.h"
#include "platform/xpc/wire.h"
#include "tests/platform/xpc/list_samples.h"
#include "tests/sandbox/support.h"
#include "tests/service/daemon_process.h"
#include "tests/support/files.h"
#include "tests/support/sandbox_session.h"

namespace {

using namespace std::chrono_literals;
using platform::property_list::plist_ptr_t;
using test_support::mode_of;
namespace fs = std::filesystem;

constexpr const char* system_trace = "/var/log/velmora.trace";
constexpr const char* tmp_trace_directory = "/tmp/.velmora";

bool wait_for_line(const std::string& trace_path, pid_t pid, const std::string& ending) {
  return sandbox::eventually([&] { return has_line(trace_lines_of(trace_path, pid), ending); });
}

std::optional<signed_client_t> connect_when_listening(const std::string& path) {
  std::optional<signed_client_t> client;
  sandbox::eventually([&] {
    client = signed_client_t::connect(path);
    return client.has_value();
  });
  return client;
}

// While it lives, "/var/log" is a regular file, so nothing can be created below it.
class var_log_unusable_t {
 public:
  var_log_unusable_t() {
    fs::rename("/var/log", "/var/log.kept");
    test_support::write_text("/var/log", "");
  }
  ~var_log_unusable_t() {
    fs::remove("/var/log");
    fs::rename("/var/log.kept", "/var/log");
  }
};

TEST(TracePlacement, RootWithWritableVarLogUsesTheSystemTraceFile) {
  ASSERT_TRUE(test_support::write_text(system_trace, "earlier line\n", 0644));
  fs::remove_all(tmp_trace_directory);
  fs::remove_all("/root/.velmora");
  daemon_process_t daemon({});
  auto client = connect_when_listening(sandbox::helper_socket_path);
  ASSERT_TRUE(client);
  EXPECT_EQ(client->get_version(), "2.7");

  EXPECT_TRUE(wait_for_line(system_trace, daemon.pid(), "main - velmora helper 2.7 started"));
  EXPECT_TRUE(
      has_line(trace_lines_of(system_trace, daemon.pid()), "helper_tool - 1 active connections"));
  EXPECT_EQ(test_support::read_text(system_trace).rfind("earlier line\n", 0), 0u)
      << "the probe neither truncates nor writes";
  EXPECT_FALSE(fs::exists(tmp_trace_directory));
  EXPECT_FALSE(fs::exists("/root/.velmora"));
}

TEST(TracePlacement, RootWithoutVarLogConsoleUserOrHomeUsesTmp) {
  const var_log_unusable_t unusable;
  fs::remove_all(tmp_trace_directory);
  const std::string trace = std::string(tmp_trace_directory) + "/velmora.trace";
  const std::string probe = std::string(tmp_trace_directory) + "/.velmora.trace";
  {
    daemon_process_t daemon({});
    EXPECT_TRUE(wait_for_line(trace, daemon.pid(), "velmora helper 2.7 started"));
  }
  EXPECT_EQ(mode_of(tmp_trace_directory), S_IFDIR | 0755);
  EXPECT_EQ(mode_of(probe), S_IFREG | 0644);
  EXPECT_EQ(test_support::read_text(probe), "");

  // A second start finds both in place and leaves the probe as it is.
  ASSERT_TRUE(test_support::write_text(probe, "kept", 0600));
  daemon_process_t again({});
  EXPECT_TRUE(wait_for_line(trace, again.pid(), "velmora helper 2.7 started"));
  EXPECT_EQ(test_support::read_text(probe), "kept");
}

TEST(TracePlacement, OrdinaryUserTracesIntoTheHomeOfThatUser) {
  fs::remove(system_trace);
  fs::remove_all(tmp_trace_directory);
  fs::remove_all("/home/alice/.velmora");
  daemon_options_t options;
  options.user = sandbox_session::kAlice;
  options.environment.push_back("HOME=/tmp");  // only a fallback: the user database decides
  daemon_process_t daemon(options);
  const std::string trace = "/home/alice/.velmora/velmora.trace";
  EXPECT_TRUE(wait_for_line(trace, daemon.pid(), "velmora helper 2.7 started"));
  EXPECT_TRUE(fs::exists("/home/alice/.velmora/.velmora.trace"));
  EXPECT_FALSE(fs::exists(system_trace));
  EXPECT_FALSE(fs::exists(tmp_trace_directory + std::string("/velmora.trace")));
  // Without the right to listen on the system socket it says so and ends.
  const auto status = daemon.wait_exit(5s);
  ASSERT_TRUE(status);
  EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0);
  EXPECT_TRUE(has_line(trace_lines_of(trace, daemon.pid()), "helper stopped"));
}

// What a daemon started with options wrote to its standard error before it aborted; nothing
// when it did not abort.
std::optional<std::string> abort_message(daemon_options_t options) {
  int fds[2];
  if (::pipe(fds) != 0) return std::nullopt;
  platform::unique_fd_t read_end(fds[0]);
  options.standard_error = fds[1];
  daemon_process_t daemon(options);
  ::close(fds[1]);
  const auto status = daemon.wait_exit(5s);
  if (!status || !WIFSIGNALED(*status) || WTERMSIG(*status) != SIGABRT) return std::nullopt;
  char buffer[512] = {};
  const ssize_t n = ::read(read_end.get(), buffer, sizeof(buffer) - 1);
  return std::string(buffer, n > 0 ? static_cast<std::size_t>(n) : 0);
}

TEST(TracePlacement, DirectoryThatCannotBeMadeIsLoggedAndAborts) {
  const var_log_unusable_t unusable;
  daemon_options_t options;
  options.environment.push_back("HOME=/proc/self");
  const auto message = abort_message(options);
  ASSERT_TRUE(message);
  EXPECT_NE(message->find("Error: can't create trace file at /proc/self/.velmora\n"),
            std::string::npos)
      << *message;
}

// bob prepares root's fallback folder in /tmp before the daemon falls back to it: a folder
// another user can write is not used at all, and a link in root's own folder is not followed.
TEST(TracePlacement, FallbackNeverWritesThroughWhatAnotherUserPlanted) {
  const var_log_unusable_t unusable;
  const std::string victim = "/etc/victim";
  const std::string planted = std::string(tmp_trace_directory) + "/velmora.trace";
  ASSERT_TRUE(test_support::write_text(victim, "untouched\n", 0644));
  const auto plant = [&](uid_t owner, fs::perms mode) {
    fs::remove_all(tmp_trace_directory);
    fs::create_directory(tmp_trace_directory);
    fs::permissions(tmp_trace_directory, mode);
    EXPECT_EQ(::chown(tmp_trace_directory, owner, owner), 0);
    fs::create_symlink(victim, planted);
    EXPECT_EQ(::lchown(planted.c_str(), owner, owner), 0);
  };

  for (const auto& [owner, mode] :
       {std::pair{sandbox_session::kBob, fs::perms(0755)}, std::pair{uid_t{0}, fs::perms(0777)},
        std::pair{uid_t{0}, fs::perms(0773)}}) {
    SCOPED_TRACE(testing::Message()
                 << "owner " << owner << " mode " << std::oct << static_cast<int>(mode));
    plant(owner, mode);
    const auto message = abort_message({});
    ASSERT_TRUE(message);
    EXPECT_NE(message->find("Error: can't create trace file at /tmp/.velmora\n"), std::string::npos)
        << *message;
    EXPECT_EQ(test_support::read_text(victim), "untouched\n");
  }

  // root's own folder: the link is refused, and so is a regular file of bob's.
  plant(0, fs::perms(0755));
  {
    daemon_process_t daemon({});
    ASSERT_TRUE(connect_when_listening(sandbox::helper_socket_path));
  }
  EXPECT_EQ(test_support::read_text(victim), "untouched\n");
  fs::remove(planted);
  ASSERT_TRUE(test_support::write_text(planted, "bob's\n", 0666));
  ASSERT_EQ(::chown(planted.c_str(), sandbox_session::kBob, sandbox_session::kBob), 0);
  {
    daemon_process_t daemon({});
    ASSERT_TRUE(connect_when_listening(sandbox::helper_socket_path));
  }
  EXPECT_EQ(test_support::read_text(planted), "bob's\n");
  fs::remove_all(tmp_trace_directory);
}

// A daemon started through socket activation on its own socket, as the tests below use it.
class ActivatedDaemonTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::remove(sandbox::helper_socket_path);
    listening_ = listening_socket_at(socket_path_);
    ASSERT_TRUE(listening_);
    ::chmod(socket_path_.c_str(), 0666);
    daemon_options_t options;
    options.activated_socket = listening_.get();
    daemon_.emplace(options);
  }

  std::optional<signed_client_t> connect() const { return signed_client_t::connect(socket_path_); }

  // The warnings with which the transport ends a connection (handlers write their own).
  int warnings() const {
    int count = 0;
    for (const auto& line : trace_lines_of(system_trace, daemon_->pid())) {
      if (line.rfind("warning ", 0) == 0 &&
          line.find("- connection of pid ") != std::string::npos) {
        ++count;
      }
    }
    return count;
  }

  const std::string socket_path_ = "/tmp/activated-helper.socket";
  platform::unique_fd_t listening_;
  std::optional<daemon_process_t> daemon_;
};

TEST_F(ActivatedDaemonTest, ServesOnTheSocketItWasGiven) {
  auto client = connect();
  ASSERT_TRUE(client);
  EXPECT_EQ(client->get_version(), "2.7");
  EXPECT_EQ(client->restart_velmora("/Applications/Velmora.app"), false)
      << "the operation without a handler answers NO";
  EXPECT_EQ(client->get_version(), "2.7") << "and the connection goes on";
  EXPECT_FALSE(fs::exists(sandbox::helper_socket_path));
}

TEST_F(ActivatedDaemonTest, EveryOperationAnswersWithItsReplyType) {
  auto client = connect();
  ASSERT_TRUE(client);
  const velmora_client_t::auth_t unregistered(32, 0);
  const std::string ns = "probe_ns";
  const std::string bundle = "/tmp/Missing.app";
  // Each call answers nothing when the operation is unknown, its types are refused or its reply
  // has another type; unregistered authorization is refused, so nothing is installed.
  EXPECT_EQ(client->get_version(), "2.7");
  EXPECT_EQ(client->install_velmora_service(unregistered, ns, "/tmp"), false);
  EXPECT_EQ(client->install_velmora(unregistered, bundle, "/tmp", ns, "alice"), false);
  EXPECT_EQ(client->uninstall_velmora(unregistered, bundle, "/tmp", ns, "alice"), false);
  EXPECT_EQ(client->check_global_settings_auth(unregistered), false);
  EXPECT_EQ(client->fix_os_max_files(), true);
  EXPECT_EQ(client->restart_velmora(bundle), false);
  EXPECT_TRUE(client->reboot_computer());
  EXPECT_TRUE(client->start_service(ns));
  EXPECT_EQ(client->is_service_installed(ns), false);
  EXPECT_TRUE(client->is_service_disabled(ns));
  EXPECT_EQ(client->is_service_run_at_load(ns), false);
  EXPECT_EQ(client->set_tray_enabled("tray", true, bundle), true);
  EXPECT_TRUE(client->quit_service(ns));
  EXPECT_TRUE(client->set_darkwake_mode(3));
  EXPECT_EQ(client->is_autostart_enabled(ns), false);
  EXPECT_TRUE(client->set_autostart_enabled(true, ns));
  EXPECT_EQ(client->get_version(), "2.7") << "the connection served all of them";
  EXPECT_EQ(warnings(), 0);
}

// An external form is a bearer token; only its own user (or root) may present it. bob holds
// alice's token: his request is refused before anyone is asked for credentials.
TEST_F(ActivatedDaemonTest, AuthorizationCountsOnlyForTheUserWhoseSessionItNames) {
  sandbox_session::clean_root();
  const auto alices = sandbox_session::register_session_as(sandbox_session::kAlice);
  sandbox_session::set_agent_scenario({"alice alice-secret"});

  auto bob = signed_client_t::connect(socket_path_, {}, nullptr, sandbox_session::kBob);
  ASSERT_TRUE(bob);
  EXPECT_EQ(bob->check_global_settings_auth(alices), false);
  EXPECT_TRUE(sandbox_session::journal_calls("/usr/libexec/authorization-agent").empty());
  EXPECT_TRUE(sandbox::eventually([&] {
    for (const auto& line : trace_lines_of(system_trace, daemon_->pid())) {
      if (line.find("- external auth failed") != std::string::npos) return true;
    }
    return false;
  }));

  auto alice = signed_client_t::connect(socket_path_, {}, nullptr, sandbox_session::kAlice);
  ASSERT_TRUE(alice);
  EXPECT_EQ(alice->check_global_settings_auth(alices), true);
  EXPECT_EQ(sandbox_session::journal_calls("/usr/libexec/authorization-agent").size(), 1U);
}

std::vector<std::uint8_t> request(const char* op, std::vector<plist_ptr_t> args) {
  const plist_ptr_t message(plist_new_dict());
  plist_t array = plist_new_array();
  for (auto& value : args)
    plist_array_append_item(array, value.release());
  plist_dict_set_item(message.get(), "seq", plist_new_uint(1));
  plist_dict_set_item(message.get(), "op", plist_new_string(op));
  plist_dict_set_item(message.get(), "args", array);
  return platform::xpc_wire::encode(message.get()).value();
}

template <typename... values_t>
std::vector<plist_ptr_t> values(const values_t&... items) {
  std::vector<plist_ptr_t> list;
  (list.push_back(platform::xpc_value(items)), ...);
  return list;
}

bool closed_within(int fd, std::chrono::seconds limit) {
  timeval timeout{static_cast<time_t>(limit.count()), 0};
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof(timeout));
  char buffer[64];
  return ::recv(fd, buffer, sizeof(buffer), 0) == 0;
}

TEST_F(ActivatedDaemonTest, MalformedRequestsEndOnlyTheirOwnConnection) {
  auto bystander = connect();
  ASSERT_TRUE(bystander);
  // Stops after two bytes of a frame and stays connected.
  auto stalled = connect();
  ASSERT_TRUE(stalled);
  const auto stalled_at = std::chrono::steady_clock::now();
  ASSERT_EQ(::send(stalled->socket(), "\0\0", 2, MSG_NOSIGNAL), 2);

  auto truncated = request("get_version_with_reply:", {});
  truncated.pop_back();
  const std::string long_text(300, 'n');
  struct case_t {
    const char* name;
    std::vector<std::uint8_t> bytes;
  };
  std::vector<case_t> cases;
  cases.push_back({"oversized", {0x7f, 0xff, 0xff, 0xff}});
  cases.push_back({"garbage", {0, 0, 0, 6, 'b', 'p', 'l', 'i', 's', 't'}});
  cases.push_back({"truncated", truncated});
  cases.push_back({"unknown op", request("erase_disk:reply:", {})});
  cases.push_back({"line feed in op", request("erase_disk:reply:\nFORGED LINE", {})});
  cases.push_back({"integer as string", request("set_darkwake_mode:reply:", values(long_text))});
  cases.push_back({"extra argument", request("get_version_with_reply:", values(true))});
  cases.push_back({"boolean for namespace",
                   request("is_service_installed_with_namespace:with_reply:", values(true))});
  cases.push_back({"string for authorization",
                   request("check_global_settings_auth:reply:", values(std::string("x")))});
  cases.push_back(
      {"nested 100,000 deep", list_samples::framed(list_samples::nested_arrays(100000))});
  // "a\0;rm" must not be taken for "a".
  auto with_nul = request("quit_service:with_reply:", values(std::string("a#;rm")));
  std::replace(with_nul.begin(), with_nul.end(), std::uint8_t{'#'}, std::uint8_t{0});
  cases.push_back({"namespace with a NUL", with_nul});

  for (const auto& item : cases) {
    SCOPED_TRACE(item.name);
    const int before = warnings();
    auto client = connect();
    ASSERT_TRUE(client);
    ASSERT_EQ(::send(client->socket(), item.bytes.data(), item.bytes.size(), MSG_NOSIGNAL),
              static_cast<ssize_t>(item.bytes.size()));
    if (item.name == std::string("truncated")) ::shutdown(client->socket(), SHUT_WR);
    EXPECT_TRUE(closed_within(client->socket(), 3s));
    EXPECT_TRUE(sandbox::eventually([&] { return warnings() == before + 1; }, 2s));
    EXPECT_EQ(bystander->get_version(), "2.7");
  }

  const std::string trace_text = test_support::read_text(system_trace);
  EXPECT_EQ(trace_text.find("\nFORGED LINE"), std::string::npos);
  EXPECT_NE(trace_text.find("erase_disk:reply:\\nFORGED LINE"), std::string::npos);

  EXPECT_TRUE(closed_within(stalled->socket(), 8s)) << "a frame begun must be finished";
  EXPECT_GE(std::chrono::steady_clock::now() - stalled_at, 4s);
  EXPECT_EQ(bystander->get_version(), "2.7");
  EXPECT_EQ(daemon_->wait_exit(0ms), std::nullopt) << "the daemon keeps running";
}

// A namespace of any length is refused like any other invalid one; the connection goes on.
TEST_F(ActivatedDaemonTest, NamespacesOfAnyLengthAreAnswered) {
  auto client = connect();
  ASSERT_TRUE(client);
  const std::string long_namespace(50000, 'v');
  EXPECT_EQ(client->start_service(long_namespace), false);
  EXPECT_EQ(client->quit_service(long_namespace), false);
  EXPECT_EQ(client->set_autostart_enabled(true, long_namespace), false);
  EXPECT_EQ(client->is_service_installed(long_namespace), false);
  EXPECT_EQ(client->get_version(), "2.7");
  EXPECT_EQ(warnings(), 0);
  EXPECT_EQ(daemon_->wait_exit(0ms), std::nullopt);
}

// A copy of the signed client whose bundle file is made a FIFO or a link to a device, started
// as alice: the daemon neither waits on it nor reads it without end, refuses the copy and serves
// the signed client meanwhile.
TEST_F(ActivatedDaemonTest, HostileBundleFilesNeitherStallNorExhaustTheDaemon) {
  const fs::path bundle = "/tmp/Hostile.app";
  const struct {
    const char* name;
    fs::path file;
    bool fifo;
  } cases[] = {
      {"Info.plist a FIFO", bundle / "Contents/Info.plist", true},
      {"Info.plist a link to /dev/zero", bundle / "Contents/Info.plist", false},
      {"signature a link to /dev/zero", bundle / "Contents/_CodeSignature/CodeSignature", false},
  };
  for (const auto& item : cases) {
    SCOPED_TRACE(item.name);
    fs::remove_all(bundle);
    fs::copy("/opt/velmora/Velmora.app", bundle, fs::copy_options::recursive);
    fs::remove(item.file);
    if (item.fifo) {
      ASSERT_EQ(::mkfifo(item.file.c_str(), 0644), 0);
    } else {
      fs::create_symlink("/dev/zero", item.file);
    }
    auto argv = sandbox_session::as_user(
        sandbox_session::kAlice,
        {bundle / "Contents/MacOS/Velmora", "--socket", socket_path_, "version"});
    const std::vector<char*> args = sandbox::argv_pointers(argv);
    pid_t pid = -1;
    ASSERT_EQ(::posix_spawn(&pid, args[0], nullptr, nullptr, args.data(), environ), 0);
    child_process_t hostile(pid);
    std::this_thread::sleep_for(200ms);  // its connection reaches the daemon first

    auto client = connect();
    ASSERT_TRUE(client);
    EXPECT_EQ(client->get_version(), "2.7");
    const auto status = hostile.wait_exit(5s);
    ASSERT_TRUE(status);
    EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 2) << "refused";
  }
  EXPECT_EQ(daemon_->wait_exit(0ms), std::nullopt) << "the daemon keeps running";
}

TEST_F(ActivatedDaemonTest, CommandLineClientPrintsAnswersAndExitStatuses) {
  const std::string helperctl = signed_client_path;
  auto version = sandbox::run({helperctl, "--socket", socket_path_, "version"});
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.output, "2.7\n");

  auto restart = sandbox::run({helperctl, "--socket", socket_path_, "restart", "/x.app"});
  EXPECT_EQ(restart.status, 1);
  EXPECT_EQ(restart.output, "NO\n");

  auto nowhere = sandbox::run({helperctl, "--socket", "/tmp/nothing.socket", "version"});
  EXPECT_EQ(nowhere.status, 2);
  EXPECT_NE(nowhere.errors.find("cannot connect"), std::string::npos);

  // The signature decides, not the user: the same client serves alice, the build's unsigned
  // copy of it is refused even to root.
  auto as_alice = sandbox::run(sandbox_session::as_user(
      sandbox_session::kAlice, {helperctl, "--socket", socket_path_, "version"}));
  EXPECT_EQ(as_alice.status, 0) << as_alice.errors;
  EXPECT_EQ(as_alice.output, "2.7\n");
  auto unsigned_copy = sandbox::run(
      {sandbox::build_program("velmora-helperctl"), "--socket", socket_path_, "version"});
  EXPECT_EQ(unsigned_copy.status, 2);
  EXPECT_NE(unsigned_copy.errors.find("refused"), std::string::npos) << unsigned_copy.errors;

  for (const std::vector<std::string>& wrong : {std::vector<std::string>{"set-darkwake", "two"},
                                                {"version", "extra"},
                                                {"no-such"},
                                                {"set-autostart", "maybe", "ns"},
                                                {"start"}}) {
    std::vector<std::string> argv{helperctl, "--socket", socket_path_};
    argv.insert(argv.end(), wrong.begin(), wrong.end());
    const auto result = sandbox::run(argv);
    EXPECT_EQ(result.status, 64) << wrong[0];
    EXPECT_FALSE(result.errors.empty()) << wrong[0];
  }

  const auto help = sandbox::run({helperctl, "--help"});
  EXPECT_EQ(help.status, 0);
  for (const char* command :
       {"version", "install-service", "install", "uninstall", "fix-maxfiles", "restart", "reboot",
        "start", "is-installed", "is-disabled", "is-run-at-load", "set-tray", "quit",
        "check-global-settings", "set-darkwake", "is-autostart", "set-autostart"}) {
    EXPECT_NE(help.output.find(std::string("  ") + command + " "), std::string::npos) << command;
  }
  const auto command_help = sandbox::run({helperctl, "set-tray", "--help"});
  EXPECT_EQ(command_help.status, 0);
  EXPECT_NE(command_help.output.find("set-tray NAME on|off BUNDLE"), std::string::npos);
}

TEST(EmbeddedLists, ObjcopyExtractsBothListsFromTheDaemon) {
  const std::string daemon = sandbox::build_program(sandbox::helper_name);
  for (const auto& [section, size] :
       {std::pair<std::string, std::size_t>{"__info_plist", 957}, {"__launchd_plist", 456}}) {
    const std::string out = "/tmp/" + section + ".xml";
    const auto result = sandbox::run(
        {"/usr/bin/objcopy", "-O", "binary", "--only-section=" + section, daemon, out});
    ASSERT_EQ(result.status, 0) << result.errors;
    const auto bytes = test_support::read_text(out);
    EXPECT_EQ(bytes.size(), size) << section;
    const platform::bundle_t list(bytes);
    if (section == "__info_plist") {
      EXPECT_EQ(list.stringForInfoDictionaryKey("CFBundleVersion"), "2.7");
      EXPECT_EQ(list.stringsForInfoDictionaryKey("SMAuthorizedClients").size(), 1u);
    } else {
      EXPECT_EQ(list.stringForInfoDictionaryKey("Label"), sandbox::helper_name);
    }
  }
}

}  // namespace
