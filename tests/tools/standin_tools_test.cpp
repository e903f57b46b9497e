// The stand-in tools as the helper runs them: by their macOS paths, inside the throwaway root.

#include <gtest/gtest.h>

#include "tests/sandbox/support.h"
#include "tests/support/files.h"

namespace {

using sandbox::journal_entry_t;
using sandbox::run;

class StandinTools : public testing::Test {
 protected:
  void SetUp() override { sandbox::clear_journal(); }
  void TearDown() override {
    for (const char* tool : {"sysctl", "launchctl", "reboot", "xattr", "hdiutil", "dns-sd"}) {
      sandbox::let_tool_succeed(tool);
    }
    ::unlink("/var/run/sysctl.darkwake");
    ::unlink("/var/run/dns-sd.services");
  }
};

TEST_F(StandinTools, EveryCallIsJournaledWithItsExactArguments) {
  run({"/usr/sbin/sysctl", "debug.darkwake=3"});
  run({"/sbin/reboot"});
  run({"/usr/bin/xattr", "-d", "-r", "com.apple.quarantine", "/Applications"});
  run({"/usr/bin/hdiutil", "detach", "/Volumes/Velmora Installer"});
  run({"/bin/launchctl", "limit", "maxfiles", "65536", "1000000"});
  run({"/usr/bin/xattr", "-d", "com.apple.quarantine", "tab\there"});
  const std::vector<journal_entry_t> expected{
      {"/usr/sbin/sysctl", {"debug.darkwake=3"}},
      {"/sbin/reboot", {}},
      {"/usr/bin/xattr", {"-d", "-r", "com.apple.quarantine", "/Applications"}},
      {"/usr/bin/hdiutil", {"detach", "/Volumes/Velmora Installer"}},
      {"/bin/launchctl", {"limit", "maxfiles", "65536", "1000000"}},
      {"/usr/bin/xattr", {"-d", "com.apple.quarantine", "tab\there"}},
  };
  EXPECT_EQ(sandbox::read_journal(), expected);
  EXPECT_EQ(sandbox::journal_calls_of("/sbin/reboot"), (std::vector<journal_entry_t>{expected[1]}));
  EXPECT_EQ(test_support::read_text("/var/run/standin.log").substr(0, 31),
            "/usr/sbin/sysctl\tdebug.darkwake");
}

TEST_F(StandinTools, SysctlReportsTheOldAndNewDarkwakeValue) {
  auto first = run({"/usr/sbin/sysctl", "debug.darkwake=3"});
  EXPECT_EQ(first.status, 0);
  EXPECT_EQ(first.output, "debug.darkwake: 0 -> 3\n");
  EXPECT_EQ(run({"/usr/sbin/sysctl", "debug.darkwake=-2"}).output, "debug.darkwake: 3 -> -2\n");
  EXPECT_EQ(run({"/usr/sbin/sysctl", "debug.darkwake"}).output, "debug.darkwake: -2\n");
  EXPECT_EQ(run({"/usr/sbin/sysctl", "-n", "debug.darkwake"}).output, "-2\n");
}

TEST_F(StandinTools, SysctlRefusesUnknownNamesAndBadValues) {
  const auto unknown = run({"/usr/sbin/sysctl", "kern.maxfiles=3"});
  EXPECT_EQ(unknown.status, 1);
  EXPECT_TRUE(unknown.output.empty());
  EXPECT_TRUE(unknown.errors.starts_with("sysctl: unknown oid")) << unknown.errors;

  run({"/usr/sbin/sysctl", "debug.darkwake=5"});
  for (const char* bad : {"debug.darkwake=", "debug.darkwake=3x", "debug.darkwake=4294967296"}) {
    const auto refused = run({"/usr/sbin/sysctl", bad});
    EXPECT_EQ(refused.status, 1) << bad;
    EXPECT_TRUE(refused.output.empty()) << bad;
  }
  EXPECT_EQ(run({"/usr/sbin/sysctl", "-n", "debug.darkwake"}).output, "5\n");
}

TEST_F(StandinTools, FailureOnDemandJournalsAndChangesNothing) {
  sandbox::make_tool_fail("sysctl");
  const auto failed = run({"/usr/sbin/sysctl", "debug.darkwake=3"});
  EXPECT_EQ(failed.status, 1);
  EXPECT_TRUE(failed.output.empty());
  EXPECT_EQ(sandbox::journal_calls_of("/usr/sbin/sysctl").size(), 1u);

  sandbox::make_tool_fail("sysctl", 42);
  EXPECT_EQ(run({"/usr/sbin/sysctl", "debug.darkwake=3"}).status, 42);

  sandbox::let_tool_succeed("sysctl");
  EXPECT_EQ(run({"/usr/sbin/sysctl", "debug.darkwake=3"}).output, "debug.darkwake: 0 -> 3\n");
  EXPECT_EQ(sandbox::journal_calls_of("/usr/sbin/sysctl").size(), 3u);
}

TEST_F(StandinTools, FailureOnDemandIsPerTool) {
  sandbox::make_tool_fail("reboot", 3);
  EXPECT_EQ(run({"/sbin/reboot"}).status, 3);
  EXPECT_EQ(run({"/usr/bin/hdiutil", "detach", "/Volumes/X"}).status, 0);
  test_support::write_text("/var/run/standin-fail/xattr", "not a number");
  EXPECT_EQ(run({"/usr/bin/xattr", "-d", "-r", "com.apple.quarantine", "/"}).status, 1);
}

TEST_F(StandinTools, XattrSucceedsForPathsThatExist) {
  EXPECT_EQ(run({"/usr/bin/xattr", "-d", "-r", "com.apple.quarantine", "/Applications"}).status, 0);
  const auto missing =
      run({"/usr/bin/xattr", "-d", "-r", "com.apple.quarantine", "/Applications/Missing.app"});
  EXPECT_EQ(missing.status, 1);
  EXPECT_NE(missing.errors.find("/Applications/Missing.app"), std::string::npos);
  EXPECT_EQ(run({"/usr/bin/xattr", "-r", "com.apple.quarantine", "/Applications"}).status, 2)
      << "only deletion is supported";
}

TEST_F(StandinTools, HdiutilDetachSucceedsAndRebootDoesNothingElse) {
  EXPECT_EQ(run({"/usr/bin/hdiutil", "detach", "/Volumes/Velmora"}).status, 0);
  EXPECT_EQ(run({"/usr/bin/hdiutil", "attach", "/tmp/x.dmg"}).status, 1);
  const auto reboot = run({"/sbin/reboot"});
  EXPECT_EQ(reboot.status, 0);
  EXPECT_TRUE(reboot.output.empty() && reboot.errors.empty());
}

// The browse never ends by itself; the shell stops it as the helper's time-out does, even when
// the browse inherited an ignored SIGTERM.
TEST_F(StandinTools, DnsSdListsTheConfiguredServicesUntilTerminated) {
  test_support::write_text("/var/run/dns-sd.services",
                           "_sleep-proxy._udp 70-35-60-63.1 Kitchen\n_http._tcp Printer\n");
  const auto browse = run({"/bin/sh", "-c",
                           "trap '' TERM; /usr/bin/dns-sd -B _sleep-proxy._udp local & "
                           "sleep 0.5; kill -TERM $!; wait $!"});
  EXPECT_EQ(browse.status, 0);
  EXPECT_TRUE(browse.output.starts_with("Browsing for _sleep-proxy._udp.local\nDATE: ---"))
      << browse.output;
  EXPECT_NE(browse.output.find("Timestamp     A/R    Flags  if Domain"), std::string::npos);
  EXPECT_NE(browse.output.find("_sleep-proxy._udp.   70-35-60-63.1 Kitchen\n"), std::string::npos)
      << browse.output;
  EXPECT_EQ(browse.output.find("Printer"), std::string::npos);
  EXPECT_EQ(
      sandbox::journal_calls_of("/usr/bin/dns-sd"),
      (std::vector<journal_entry_t>{{"/usr/bin/dns-sd", {"-B", "_sleep-proxy._udp", "local"}}}));
}

TEST_F(StandinTools, DnsSdWithoutServicesPrintsOnlyTheHeader) {
  const auto browse =
      run({"/bin/sh", "-c",
           "/usr/bin/dns-sd -B _sleep-proxy._udp local & sleep 0.3; kill $!; wait $!"});
  EXPECT_EQ(browse.status, 0);
  EXPECT_EQ(std::count(browse.output.begin(), browse.output.end(), '\n'), 4);
}

}  // namespace
