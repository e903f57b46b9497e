#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>

#include "platform/foundation/task.h"
#include "system/external_commands.h"
#include "tests/sandbox/support.h"
#include "tests/support/files.h"
#include "tests/system/replaced_tool.h"

namespace {

using std::chrono::steady_clock;

double seconds_since(steady_clock::time_point start) {
  return std::chrono::duration<double>(steady_clock::now() - start).count();
}

const std::string bundle = "/Applications/Velmora.app";
const std::string executable = bundle + "/Contents/MacOS/Velmora";

// A process named Velmora whose command line holds the bundle path, reaped when it goes.
class velmora_process_t {
 public:
  // The executable is a copy of sleep (ends on SIGTERM) or a script that ignores SIGTERM.
  explicit velmora_process_t(bool ignores_terminate) {
    std::filesystem::create_directories(bundle + "/Contents/MacOS");
    std::filesystem::remove(executable);
    if (ignores_terminate) {
      test_support::write_text(executable, "#!/bin/sh\ntrap '' TERM\nwhile :; do sleep 0.1; done\n",
                               0755);
    } else {
      std::filesystem::copy_file("/usr/bin/sleep", executable);
    }
    task_.launchPath = executable;
    task_.arguments = {"120"};
    EXPECT_TRUE(task_.launch());
    // Wait until the process runs under its own name, so killall can find it, and the script
    // has set its trap, which it does only after it runs under that name.
    EXPECT_TRUE(sandbox::eventually([this, ignores_terminate] {
      const auto comm = test_support::read_text(proc_file("comm"));
      return comm == "Velmora\n" && (!ignores_terminate || ignores_sigterm());
    }));
  }
  ~velmora_process_t() {
    if (task_.isRunning()) ::kill(pid(), SIGKILL);
    task_.waitUntilExit();
  }
  pid_t pid() const { return task_.processIdentifier(); }
  bool running() const { return ::kill(pid(), 0) == 0 && !zombie(); }

 private:
  std::string proc_file(const char* name) const {
    return "/proc/" + std::to_string(pid()) + "/" + name;
  }
  bool ignores_sigterm() const {
    const std::string status = test_support::read_text(proc_file("status"));
    const std::size_t at = status.find("\nSigIgn:");
    return at != std::string::npos &&
           (std::stoull(status.substr(at + 8), nullptr, 16) & (1ULL << (SIGTERM - 1))) != 0;
  }
  bool zombie() const {
    const auto stat = test_support::read_text(proc_file("stat"));
    return stat.empty() || stat.find(") Z ") != std::string::npos;
  }
  platform::task_t task_;
};

TEST(ProcessesByPath, UnusedPathGivesAnEmptyList) {
  const auto processes = ExternalCommands::processes_by_path("/Applications/Unused-Velmora.app");
  ASSERT_TRUE(processes.has_value());
  EXPECT_TRUE(processes->empty());
}

TEST(ProcessesByPath, FindsTheProcessByItsPid) {
  velmora_process_t velmora(false);
  const auto processes = ExternalCommands::processes_by_path(bundle);
  ASSERT_TRUE(processes.has_value());
  EXPECT_EQ(*processes, std::vector<std::string>{std::to_string(velmora.pid())});
}

TEST(ProcessesByPath, HostilePathsInjectNothing) {
  const std::vector<std::string> hostile = {
      "/Applications/a'; touch /var/run/injected-1; echo '.app",
      "/Applications/a\"; touch /var/run/injected-2; echo \".app",
      "/Applications/$(touch /var/run/injected-3).app",
      "/Applications/`touch /var/run/injected-4`.app",
      "/Applications/a; touch /var/run/injected-5",
      "/Applications/a\ntouch /var/run/injected-6",
      "-e touch /var/run/injected-7",
      "--version",
  };
  for (const auto& path : hostile) {
    SCOPED_TRACE(path);
    const auto processes = ExternalCommands::processes_by_path(path);
    ASSERT_TRUE(processes.has_value());
    // A pattern of two lines also matches other processes; the others match nothing but the
    // dropped shell and grep lines.
    if (path.find('\n') == std::string::npos) {
      EXPECT_TRUE(processes->empty());
    }
  }
  for (int i = 1; i <= 7; ++i) {
    const std::string marker = "/var/run/injected-" + std::to_string(i);
    EXPECT_NE(::access(marker.c_str(), F_OK), 0) << marker;
  }
}

TEST(KillBundle, NoProcessOfThatNameAnswersNoAtOnce) {
  const auto start = steady_clock::now();
  EXPECT_FALSE(ExternalCommands::kill_bundle_by_path(bundle));
  EXPECT_LT(seconds_since(start), 1.0);  // no polling
}

TEST(KillBundle, ProcessEndingOnTerminateAnswersYes) {
  velmora_process_t velmora(false);
  EXPECT_TRUE(ExternalCommands::kill_bundle_by_path(bundle));
  EXPECT_FALSE(velmora.running());
}

TEST(KillBundle, ProcessIgnoringTerminateIsPolledTwentyFiveTimes) {
  velmora_process_t velmora(true);
  // Each poll runs ps once; the counting stand-in hands over to a copy of the real one.
  std::filesystem::copy_file("/usr/bin/ps", "/var/run/ps-original",
                             std::filesystem::copy_options::overwrite_existing);
  replaced_tool_t ps_tool("/usr/bin/ps", "exec /var/run/ps-original \"$@\"");
  const auto start = steady_clock::now();
  EXPECT_FALSE(ExternalCommands::kill_bundle_by_path(bundle));
  const double elapsed = seconds_since(start);
  EXPECT_GE(elapsed, 5.0);
  EXPECT_EQ(ps_tool.calls().size(), 25u);
  EXPECT_TRUE(velmora.running());
}

class SleepProxy : public testing::Test {
 protected:
  void SetUp() override { sandbox::clear_journal(); }
  void TearDown() override {
    ::unlink("/var/run/dns-sd.services");
    sandbox::let_tool_succeed("dns-sd");
  }
};

TEST_F(SleepProxy, BrowseSeesOrMissesTheService) {
  EXPECT_FALSE(ExternalCommands::detect_sleep_proxy(1));
  ASSERT_TRUE(test_support::write_text("/var/run/dns-sd.services",
                                       "_sleep-proxy._udp 70-35-60-63.1 Kitchen\n"));
  EXPECT_TRUE(ExternalCommands::detect_sleep_proxy(1));
  sandbox::make_tool_fail("dns-sd");
  EXPECT_FALSE(ExternalCommands::detect_sleep_proxy(1));

  const sandbox::journal_entry_t browse{"/usr/bin/dns-sd", {"-B", "_sleep-proxy._udp", "local"}};
  EXPECT_EQ(sandbox::read_journal(), std::vector<sandbox::journal_entry_t>(3, browse));
}

TEST_F(SleepProxy, OnlyLinesAfterTheFirstCount) {
  const std::vector<std::pair<std::string, bool>> outputs = {
      {"one line naming _sleep-proxy._udp\\n", false},
      {"_sleep-proxy._udp first\\nsecond\\nthird\\n", false},
      {"first\\nsecond _sleep-proxy._udp\\nthird", true},
      {"first\\nsecond\\n_sleep-proxy._udp", true},
  };
  for (const auto& [output, expected] : outputs) {
    replaced_tool_t dns_sd("/usr/bin/dns-sd", "printf '" + output + "'");
    EXPECT_EQ(ExternalCommands::detect_sleep_proxy(5), expected) << output;
  }
}

}  // namespace
