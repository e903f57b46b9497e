// The daemon when the system lets it down: tools that fail or hang, a full file system under the
// application copy or the trace, a client killed in the middle of an install. Each request answers
// as it says it would, nothing half-made is left, and the daemon goes on serving.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mount.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <future>
#include <sstream>
#include <thread>

#include "tests/sandbox/support.h"
#include "tests/service/daemon_process.h"
#include "tests/service/held_tool.h"
#include "tests/support/files.h"
#include "tests/support/sandbox_session.h"
#include "tests/support/scratch_directory.h"
#include "tests/support/trace_lines.h"

namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

constexpr const char* system_trace = "/var/log/velmora.trace";
constexpr const char* source_bundle = "/tmp/source/Velmora.app";
constexpr const char* installed_bundle = "/Applications/Velmora.app";
constexpr const char* service_list = "/Library/LaunchDaemons/com.corvantix.velmora.service.plist";

// A small file system mounted over a directory of the root, taken away again when it goes.
class small_file_system_t {
 public:
  small_file_system_t(std::string path, const std::string& size) : path_(std::move(path)) {
    const std::string options = "size=" + size + ",mode=755";
    mounted_ = ::mount("tmpfs", path_.c_str(), "tmpfs", 0, options.c_str()) == 0;
  }
  ~small_file_system_t() {
    if (mounted_) ::umount2(path_.c_str(), MNT_DETACH);
  }
  small_file_system_t(const small_file_system_t&) = delete;
  small_file_system_t& operator=(const small_file_system_t&) = delete;

  bool mounted() const { return mounted_; }

  // Writes a file until the file system has no room left; false when it never filled up.
  bool fill(const std::string& name) const {
    const platform::unique_fd_t fd(
        ::open((path_ + "/" + name).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
    const std::string block(4096, 'f');
    for (std::size_t size = block.size(); fd && size > 0;) {
      const ssize_t n = ::write(fd.get(), block.data(), size);
      if (n < 0 && errno == ENOSPC) return true;
      if (n <= 0) size /= 2;  // a short tail still fits
    }
    return false;
  }

 private:
  std::string path_;
  bool mounted_ = false;
};

// Every file and folder below a directory, with the size of each file.
std::vector<std::string> tree_of(const std::string& directory) {
  std::vector<std::string> entries;
  for (const auto& entry : fs::recursive_directory_iterator(directory)) {
    std::string item = entry.path().string();
    if (entry.is_regular_file()) item += " " + std::to_string(entry.file_size());
    entries.push_back(item);
  }
  std::ranges::sort(entries);
  return entries;
}

void make_bundle(const std::string& bundle, std::size_t extra_bytes = 0) {
  fs::create_directories(bundle + "/Contents/MacOS");
  fs::create_directories(bundle + "/Contents/Resources");
  test_support::write_text(bundle + "/Contents/MacOS/Velmora", "#!/bin/sh\nexit 0\n", 0755);
  test_support::write_text(bundle + "/Contents/Resources/large", std::string(extra_bytes, 'x'));
}

// What launchctl was asked to do with jobs (the start-up check may also set a limit).
std::vector<std::string> job_calls() {
  std::vector<std::string> calls;
  for (const auto& call : sandbox::journal_calls_of("/bin/launchctl")) {
    if (!call.arguments.empty() && call.arguments.front() != "limit") {
      calls.push_back(call.arguments.front());
    }
  }
  return calls;
}

// A daemon on its own activated socket, and its clients.
class FaultTest : public ::testing::Test {
 protected:
  void SetUp() override {
    sandbox_session::clean_root();
    for (const char* left : {installed_bundle, service_list, "/tmp/source"})
      fs::remove_all(left);
    listening_ = listening_socket_at(socket_path_);
    ASSERT_TRUE(listening_);
  }

  void start_daemon(daemon_options_t options = {}) {
    options.activated_socket = listening_.get();
    daemon_.emplace(options);
  }

  std::optional<signed_client_t> connect() const { return signed_client_t::connect(socket_path_); }

  std::vector<std::string> lines() const { return trace_lines_of(system_trace, daemon_->pid()); }
  bool eventually_traced(const std::string& ending, int times = 1) const {
    return sandbox::eventually(
        [&] {
          return std::ranges::count_if(lines(), [&](const std::string& line) {
                   return has_line({line}, ending);
                 }) == times;
        },
        10s);
  }

  process_usage_t settled() const { return settled_usage(daemon_->pid()); }
  // What the requests and clients took, given back once they have gone.
  void expect_usage_back_to(const process_usage_t& baseline) const {
    EXPECT_EQ(usage_back_to(daemon_->pid(), baseline), baseline) << open_files();
  }
  // What each open descriptor of the daemon refers to, one a line.
  std::string open_files() const {
    std::string all;
    std::error_code error;
    const std::string fds = "/proc/" + std::to_string(daemon_->pid()) + "/fd";
    for (const auto& entry : fs::directory_iterator(fds, error)) {
      all += entry.path().filename().string() + " -> " +
             fs::read_symlink(entry.path(), error).string() + "\n";
    }
    return all;
  }

  // Still running, and serving a client that comes now.
  bool serving() {
    if (daemon_->wait_exit(0ms)) return false;
    auto client = connect();
    return client && client->get_version() == "2.7";
  }

  // An install of the source bundle by the administrator alice. Every install of a test is made
  // in one session: the daemon keeps a session that has authenticated while its credentials
  // stand, which is no leak.
  std::optional<bool> install(signed_client_t& client) {
    if (session_.empty()) {
      session_ = sandbox_session::register_session_as(sandbox_session::kAlice);
      sandbox_session::set_agent_scenario({"alice alice-secret"});
    }
    return client.install_velmora(session_, source_bundle, "/tmp/source", "velmora", "alice");
  }

  const std::string socket_path_ = "/tmp/fault-helper.socket";
  platform::unique_fd_t listening_;
  std::optional<daemon_process_t> daemon_;
  std::vector<std::uint8_t> session_;
};

TEST_F(FaultTest, FailingToolsGiveEachRequestItsFailureAnswerAndOthersAreServed) {
  ASSERT_TRUE(test_support::write_text(
      service_list,
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
      "<key>Label</key><string>com.corvantix.velmora.service</string>"
      "<key>ProgramArguments</key><array><string>/bin/true</string></array>"
      "<key>RunAtLoad</key><false/></dict></plist>\n"));
  start_daemon();
  auto client = connect();
  auto bystander = connect();
  ASSERT_TRUE(client && bystander);
  const auto baseline = settled();

  for (const char* tool : {"launchctl", "sysctl", "reboot"})
    sandbox::make_tool_fail(tool, 3);
  EXPECT_EQ(client->start_service("velmora"), false);
  EXPECT_EQ(bystander->get_version(), "2.7");
  EXPECT_EQ(client->quit_service("velmora"), true) << "quitting answers YES whatever happened";
  EXPECT_EQ(client->set_darkwake_mode(3), -1);
  EXPECT_EQ(client->reboot_computer(), false);
  EXPECT_EQ(bystander->is_service_installed("velmora"), true);
  EXPECT_EQ(job_calls(), (std::vector<std::string>{"load", "stop"}));

  for (const char* tool : {"launchctl", "sysctl", "reboot"})
    sandbox::let_tool_succeed(tool);
  EXPECT_EQ(client->start_service("velmora"), true);
  EXPECT_EQ(client->reboot_computer(), true);
  EXPECT_TRUE(serving());
  expect_usage_back_to(baseline);
}

// The tool of one request never ends by itself: that request waits, and nothing else does.
TEST_F(FaultTest, HangingToolHoldsUpOnlyTheRequestThatRunsIt) {
  start_daemon();
  auto held_client = connect();
  auto other = connect();
  ASSERT_TRUE(held_client && other);
  const auto baseline = settled();
  held_tool_t launchctl("/bin/launchctl", "load", "exit 1");

  auto held_answer =
      std::async(std::launch::async, [&] { return held_client->start_service("velmora"); });
  ASSERT_TRUE(launchctl.called_with("load"));
  EXPECT_EQ(other->get_version(), "2.7");
  EXPECT_EQ(other->quit_service("velmora"), true) << "the same tool, for another request";
  EXPECT_TRUE(serving());
  EXPECT_EQ(held_answer.wait_for(0s), std::future_status::timeout);

  launchctl.release();
  EXPECT_EQ(held_answer.get(), false) << "the failed load, once the tool has ended";
  EXPECT_EQ(held_client->get_version(), "2.7");
  expect_usage_back_to(baseline);
}

// The trace's file system fills up while requests run, and later has room again. Lines that do
// not fit are lost whole: the file never holds part of a line, so the lines written once there is
// room again are whole too. The replies do not change.
TEST_F(FaultTest, FullTraceFileSystemLosesWholeLinesAndChangesNoReply) {
  const small_file_system_t log("/var/log", "64k");
  ASSERT_TRUE(log.mounted());
  const test_support::scratch_directory_t scratch;
  const platform::unique_fd_t output(
      ::open(scratch.path("output").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600));
  daemon_options_t options;
  options.standard_output = output.get();
  start_daemon(options);
  auto client = connect();
  ASSERT_TRUE(client);
  const auto baseline = settled();
  ASSERT_TRUE(eventually_traced("helper_tool - 1 active connections"));

  ASSERT_TRUE(log.fill("filler"));
  const std::vector<std::uint8_t> no_session;
  for (int request = 0; request < 60; ++request)
    ASSERT_EQ(client->check_global_settings_auth(no_session), false) << request;
  EXPECT_NE(test_support::read_text(scratch.path("output")).find("Write failed (28)\n"),
            std::string::npos);

  fs::remove("/var/log/filler");
  for (int request = 0; request < 3; ++request)
    EXPECT_EQ(client->check_global_settings_auth(no_session), false);
  const auto after = lines();
  ASSERT_GE(after.size(), 3u);
  EXPECT_TRUE(after.back().starts_with("error helper_tool - wrong auth data")) << after.back();

  std::istringstream text(test_support::read_text(system_trace));
  for (std::string line; std::getline(text, line);)
    EXPECT_TRUE(test_support::parse_trace_line(line)) << line;
  EXPECT_TRUE(serving());
  expect_usage_back_to(baseline);
}

// The disk under /Applications fills up during the copy of an update: the request fails as a
// failed copy does, the installed application is the one that was there, no part of the copy is
// left, and the daemon serves on.
TEST_F(FaultTest, FullDiskDuringTheApplicationCopyLeavesTheInstallationAsItWas) {
  make_bundle(source_bundle);
  const small_file_system_t applications("/Applications", "256k");
  ASSERT_TRUE(applications.mounted());
  start_daemon();
  auto client = connect();
  ASSERT_TRUE(client);
  ASSERT_EQ(install(*client), true) << "the installation that the update replaces";
  const auto previous = tree_of("/Applications");
  const auto baseline = settled();

  ASSERT_TRUE(test_support::write_text(std::string(source_bundle) + "/Contents/Resources/large",
                                       std::string(std::size_t{512} * 1024, 'x')));
  EXPECT_EQ(install(*client), false);
  const auto after = lines();
  ASSERT_FALSE(after.empty());
  EXPECT_TRUE(after.back().starts_with("error helper_tool - Can't copy app(")) << after.back();
  EXPECT_NE(after.back().find("No space left on device"), std::string::npos) << after.back();
  EXPECT_EQ(tree_of("/Applications"), previous);
  EXPECT_EQ(client->get_version(), "2.7");
  EXPECT_TRUE(serving());
  expect_usage_back_to(baseline);
}

// The client is killed while its install waits for a tool: the install runs to its end all the
// same, and the daemon serves on.
TEST_F(FaultTest, InstallWhoseClientWasKilledCompletes) {
  make_bundle(source_bundle);
  start_daemon();
  {
    auto first = connect();
    ASSERT_TRUE(first);
    ASSERT_EQ(install(*first), true) << "an install to begin with";
  }
  ASSERT_TRUE(eventually_traced("helper_tool - last conn invalidated"));
  const auto baseline = settled();
  auto client = connect();
  ASSERT_TRUE(client);
  held_tool_t launchctl("/bin/launchctl", "stop", "exit 1");

  auto answer = std::async(std::launch::async, [&] { return install(*client); });
  ASSERT_TRUE(launchctl.called_with("stop"));
  ASSERT_EQ(::kill(client->relay_pid(), SIGKILL), 0);
  EXPECT_FALSE(answer.get()) << "the client is gone: nothing comes back";

  launchctl.release();
  EXPECT_TRUE(eventually_traced("helper_tool - ** Installation finished **", 2));
  EXPECT_TRUE(fs::exists(std::string(installed_bundle) + "/Contents/MacOS/Velmora"));
  EXPECT_TRUE(fs::exists(service_list));
  EXPECT_TRUE(eventually_traced("helper_tool - last conn invalidated", 2));
  EXPECT_TRUE(serving());
  expect_usage_back_to(baseline);
}

}  // namespace
