#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "platform/foundation/main_bundle_path.h"
#include "system/external_commands.h"
#include "tests/sandbox/support.h"
#include "tests/support/files.h"
#include "tests/system/replaced_tool.h"

namespace {

using sandbox::journal_entry_t;
using arguments_t = std::vector<std::string>;

class ToolWrappers : public testing::Test {
 protected:
  void SetUp() override { sandbox::clear_journal(); }
  void TearDown() override {
    for (const char* tool : {"launchctl", "reboot", "xattr", "hdiutil", "security"}) {
      sandbox::let_tool_succeed(tool);
    }
  }
};

TEST_F(ToolWrappers, PlainToolsRunTheirExactVectors) {
  const std::string plist = "/Library/LaunchDaemons/com.corvantix.test.service.plist";
  std::filesystem::create_directories("/Applications/Velmora.app");
  ASSERT_TRUE(test_support::write_text(plist, R"(<?xml version="1.0" encoding="UTF-8"?>
<plist version="1.0"><dict><key>Label</key><string>com.corvantix.test.service</string>
<key>ProgramArguments</key><array><string>/bin/true</string></array></dict></plist>
)"));

  EXPECT_TRUE(ExternalCommands::ejectVelmoraDMG("/Volumes/Velmora 2"));
  EXPECT_TRUE(ExternalCommands::removeOpenWarningFromVelmora("/Applications/Velmora.app"));
  EXPECT_TRUE(ExternalCommands::load_service(plist));
  EXPECT_TRUE(ExternalCommands::start_service("com.corvantix.test.service"));
  EXPECT_TRUE(ExternalCommands::stop_agent("com.corvantix.test.service"));
  EXPECT_TRUE(ExternalCommands::unload_agent(plist));
  EXPECT_TRUE(ExternalCommands::load_agent(plist));
  EXPECT_TRUE(ExternalCommands::stop_service("com.corvantix.test.service"));
  EXPECT_TRUE(ExternalCommands::unload_service(plist));
  ExternalCommands::remove_authorization("com.corvantix.velmora.install");
  EXPECT_TRUE(ExternalCommands::force_reboot());

  const std::vector<journal_entry_t> expected = {
      {"/usr/bin/hdiutil", {"detach", "/Volumes/Velmora 2"}},
      {"/usr/bin/xattr", {"-d", "-r", "com.apple.quarantine", "/Applications/Velmora.app"}},
      {"/bin/launchctl", {"load", plist}},
      {"/bin/launchctl", {"start", "com.corvantix.test.service"}},
      {"/bin/launchctl", {"stop", "com.corvantix.test.service"}},
      {"/bin/launchctl", {"unload", plist}},
      {"/bin/launchctl", {"load", plist}},
      {"/bin/launchctl", {"stop", "com.corvantix.test.service"}},
      {"/bin/launchctl", {"unload", plist}},
      {"/usr/bin/security", {"authorizationdb", "remove", "com.corvantix.velmora.install"}},
      {"/sbin/reboot", {}},
  };
  EXPECT_EQ(sandbox::read_journal(), expected);
}

TEST_F(ToolWrappers, NonZeroStatusAnswersNo) {
  EXPECT_FALSE(ExternalCommands::stop_service("com.corvantix.never-loaded.service"));
  EXPECT_FALSE(ExternalCommands::load_service("/Library/LaunchDaemons/missing.plist"));
  for (const char* tool : {"launchctl", "reboot", "xattr", "hdiutil", "security"}) {
    sandbox::make_tool_fail(tool, 3);
  }
  EXPECT_FALSE(ExternalCommands::start_service("com.corvantix.test.service"));
  EXPECT_FALSE(ExternalCommands::unload_agent("/Library/LaunchAgents/x.plist"));
  EXPECT_FALSE(ExternalCommands::force_reboot());
  EXPECT_FALSE(ExternalCommands::removeOpenWarningFromVelmora("/Applications/Velmora.app"));
  EXPECT_FALSE(ExternalCommands::ejectVelmoraDMG("/Volumes/Velmora"));
  EXPECT_FALSE(ExternalCommands::remove_authorization("right"));
  EXPECT_EQ(sandbox::read_journal().size(), 8u);
}

TEST(OwnershipTools, ExactVectorsWithAndWithoutRecursion) {
  replaced_tool_t chmod_tool("/usr/bin/chmod", "exit 0");
  replaced_tool_t chown_tool("/usr/sbin/chown", "exit 4");

  EXPECT_FALSE(ExternalCommands::chmod("/etc/velmora", "775", true));
  EXPECT_FALSE(ExternalCommands::chmod("/var/log/a b.trace", "666", false));
  EXPECT_TRUE(ExternalCommands::chown("/etc/velmora", "root", "wheel", true));
  EXPECT_TRUE(ExternalCommands::chown("/Applications/Velmora.app", "root", "staff", false));

  EXPECT_EQ(chmod_tool.calls(), (std::vector<arguments_t>{{"-R", "775", "/etc/velmora"},
                                                          {"666", "/var/log/a b.trace"}}));
  EXPECT_EQ(chown_tool.calls(),
            (std::vector<arguments_t>{{"-R", "root:wheel", "/etc/velmora"},
                                      {"root:staff", "/Applications/Velmora.app"}}));
}

TEST(Relaunch, BundlePathIsOneArgumentOfOpen) {
  // There is no open tool here: the shell finds this one first on the inherited search path.
  ::mkdir("/var/run/relaunch-bin", 0755);
  recording_script_t open_tool("/var/run/relaunch-bin/open", "exit 0");
  const char* inherited = std::getenv("PATH");
  const std::string search_path = inherited != nullptr ? inherited : "/usr/bin:/bin";
  ::setenv("PATH", ("/var/run/relaunch-bin:" + search_path).c_str(), 1);
  ExternalCommands::relaunchVelmora();
  ::setenv("PATH", search_path.c_str(), 1);
  EXPECT_TRUE(sandbox::eventually([&] { return !open_tool.calls().empty(); }));
  EXPECT_EQ(open_tool.calls(), (std::vector<arguments_t>{{"-n", platform::main_bundle_path()}}));
}

}  // namespace
