// The service install request, end to end inside the throwaway root.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <climits>
#include <filesystem>
#include <set>

#include "install/launchd_plist.h"
#include "service/helper_tool.h"
#include "system/external_commands.h"
#include "tests/sandbox/support.h"
#include "tests/support/files.h"
#include "tests/support/property_lists.h"
#include "tests/support/service_test_support.h"

namespace fs = std::filesystem;
using test_support::bool_value;
using test_support::dictionary_keys;
using test_support::is_line;
using test_support::status_of;
using test_support::string_array;
using test_support::string_value;
using test_support::trace_line_t;
using testing::Contains;
using testing::ElementsAre;
using testing::Field;
using testing::StartsWith;

namespace {

constexpr const char* program = "/Applications/Velmora.app/Contents/MacOS/Velmora";
constexpr const char* started_marker = "/tmp/velmora-started";

// Every path under the folders the install writes to.
std::set<std::string> system_entries() {
  std::set<std::string> entries;
  for (const char* dir : {"/Library/LaunchDaemons", "/Library/LaunchAgents", "/var/log", "/etc"}) {
    for (const auto& entry : fs::recursive_directory_iterator(dir))
      entries.insert(entry.path());
  }
  return entries;
}

// An application bundle of alice's whose executable leaves a marker when it starts.
void install_user_bundle() {
  fs::create_directories("/Applications/Velmora.app/Contents/MacOS");
  test_support::write_text(
      "/Applications/Velmora.app/Contents/Info.plist",
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
      "<key>CFBundleExecutable</key><string>Velmora</string></dict></plist>\n",
      0600);
  test_support::write_text(program, std::string("#!/bin/sh\ntouch ") + started_marker + "\n", 0700);
  for (const auto& entry : fs::recursive_directory_iterator("/Applications/Velmora.app")) {
    EXPECT_EQ(::lchown(entry.path().c_str(), sandbox_session::kAlice, sandbox_session::kAlice), 0);
  }
}

void expect_job_list(const std::string& path, const std::string& label, const char* argument) {
  const auto list = platform::property_list::read_file(path);
  ASSERT_TRUE(list) << path;
  EXPECT_EQ(dictionary_keys(list.get()).size(), 6u) << path;
  EXPECT_EQ(string_value(list.get(), "Label"), label);
  EXPECT_EQ(bool_value(list.get(), "Disabled"), false);
  EXPECT_EQ(bool_value(list.get(), "RunAtLoad"), true);
  EXPECT_EQ(bool_value(list.get(), "KeepAlive"), false);
  EXPECT_EQ(bool_value(list.get(), "LaunchOnlyOnce"), true);
  EXPECT_THAT(string_array(list.get(), "ProgramArguments"), ElementsAre(program, argument));
  EXPECT_FALSE(string_value(list.get(), "WorkingDirectory"));
}

class ServiceInstall : public testing::Test {
 protected:
  bool install(const auth_data_t& auth, const std::string& vl_namespace,
               const std::string& user_config = "/nowhere") {
    service_test::reply_recorder_t reply;
    helper.install_velmora_service_with(auth, vl_namespace, user_config, reply.block());
    EXPECT_EQ(reply.answers.size(), 1u);
    return !reply.answers.empty() && reply.answers.front();
  }

  helper_tool_t helper;
  service_test::trace_capture_t trace{"/tmp/service_install.trace"};
};

// Authorization comes first: even an invalid namespace is refused for want of it.
TEST_F(ServiceInstall, RefusedWithoutAuthorizationBeforeAnythingIsTouched) {
  const auto before = system_entries();
  EXPECT_FALSE(install(std::vector<std::uint8_t>(31), "svc_refused"));
  EXPECT_FALSE(install(std::nullopt, "bad-namespace"));
  EXPECT_EQ(system_entries(), before);
  const auto lines = trace.lines();
  ASSERT_EQ(lines.size(), 6u);
  EXPECT_THAT(lines[0], is_line("info", "* Installing Velmora Services (svc_refused) *"));
  EXPECT_THAT(lines[1], Field(&trace_line_t::message, StartsWith("wrong auth data")));
  EXPECT_THAT(lines[2], is_line("error", "Authorization failed"));
  EXPECT_THAT(lines[5], is_line("error", "Authorization failed"));
}

TEST_F(ServiceInstall, InvalidNamespaceWritesNoFile) {
  const auto before = system_entries();
  for (const std::string& vl_namespace : std::vector<std::string>{
           "velmora-1", "velmora.x", "a/b", "a b", "", std::string(50000, 'v')}) {
    EXPECT_FALSE(install(sandbox_session::administrator_session(), vl_namespace)) << vl_namespace;
    EXPECT_THAT(trace.lines().back(), is_line("error", "Invalid arguments")) << vl_namespace;
  }
  const std::string long_config = "/tmp/" + std::string(PATH_MAX, 'c');
  EXPECT_FALSE(install(sandbox_session::administrator_session(), "svc_long", long_config));
  EXPECT_THAT(trace.lines().back(), is_line("error", "Invalid arguments"));
  EXPECT_EQ(system_entries(), before);
}

TEST_F(ServiceInstall, WritesBothListsProvisionsAndRestartsTheApplication) {
  install_user_bundle();
  service_test::scratch_directory_t config;
  config.add_file("system.conf");
  config.add_file("service.conf");
  ASSERT_TRUE(install(sandbox_session::administrator_session(), "svc_ok", config.path()));

  const auto service_path = "/Library/LaunchDaemons/com.corvantix.svc_ok.service.plist";
  const auto agent_path = "/Library/LaunchAgents/com.corvantix.svc_ok.Frontend.plist";
  expect_job_list(service_path, "com.corvantix.svc_ok.service", "--service");
  expect_job_list(agent_path, "com.corvantix.svc_ok.Frontend", "--agent-frontend");
  EXPECT_EQ(status_of("/var/log/svc_ok.trace")->mode & 07777, 0666u);
  EXPECT_TRUE(fs::exists("/etc/svc_ok/service.conf"));
  for (const auto& entry : fs::recursive_directory_iterator("/Applications/Velmora.app")) {
    const auto status = status_of(entry.path());
    EXPECT_EQ(status->uid, 0u) << entry.path();
    EXPECT_EQ(status->gid, 0u) << entry.path();
    if (!entry.is_symlink()) {
      EXPECT_EQ(status->mode & 07777, 0755u) << entry.path();
    }
  }
  EXPECT_TRUE(sandbox::eventually([] { return fs::exists(started_marker); }));

  std::vector<std::string> messages;
  for (const auto& line : trace.lines())
    messages.push_back(line.message);
  EXPECT_THAT(messages,
              ElementsAre("* Installing Velmora Services (svc_ok) *",
                          "Creating global trace file..", std::string("Installing ") + service_path,
                          std::string("Installing ") + agent_path, "Creating global config..",
                          "Correcting permissions..", "** Service installation finished **"));
}

// bob asks for the namespace "codesign" and an administrator approves the generic dialog: the
// trust anchors' folder must not become bob's group's to write.
TEST_F(ServiceInstall, NamespaceOfASystemFolderLeavesItAsItIs) {
  install_user_bundle();
  service_test::scratch_directory_t config;
  config.add_file("system.conf");
  config.add_file("service.conf");
  const auto before = status_of("/etc/codesign/anchors");
  ASSERT_TRUE(before);
  ASSERT_TRUE(install(sandbox_session::administrator_session(), "codesign", config.path()));
  const auto after = status_of("/etc/codesign/anchors");
  EXPECT_EQ(after->mode, before->mode);
  EXPECT_EQ(after->gid, before->gid);
  EXPECT_FALSE(fs::exists("/etc/codesign/system.conf"));
  EXPECT_THAT(trace.lines(), Contains(is_line("warning",
                                              "Not a global config folder of "
                                              "Velmora: /etc/codesign. Left as "
                                              "it is.")));
  fs::remove("/var/log/codesign.trace");
}

// Lists that control requests changed since, or a stray link where a list belongs, are
// replaced whole.
TEST_F(ServiceInstall, ReplacesEarlierListsWhole) {
  const auto service_path = launchd_plist::service_plist_path("svc_again");
  const auto agent_path = launchd_plist::agent_plist_path("svc_again");
  ASSERT_TRUE(install(sandbox_session::administrator_session(), "svc_again"));
  service_test::reply_recorder_t autostart;
  helper.setAutostartEnabled(false, "svc_again", autostart.block());
  ASSERT_TRUE(ExternalCommands::set_enable_service(service_path, false));
  ASSERT_EQ(bool_value(platform::property_list::read_file(agent_path).get(), "RunAtLoad"), false);

  test_support::write_text("/etc/victim.conf", "untouched", 0644);
  fs::remove(agent_path);
  fs::create_symlink("/etc/victim.conf", agent_path);

  ASSERT_TRUE(install(sandbox_session::administrator_session(), "svc_again"));
  expect_job_list(service_path, "com.corvantix.svc_again.service", "--service");
  expect_job_list(agent_path, "com.corvantix.svc_again.Frontend", "--agent-frontend");
  EXPECT_FALSE(fs::is_symlink(agent_path));
  EXPECT_EQ(test_support::read_text("/etc/victim.conf"), "untouched");
}

}  // namespace
