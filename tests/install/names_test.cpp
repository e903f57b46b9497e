// Names the service forms from a namespace or a channel: they must match what launchd, the
// application and earlier installs use, character for character.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "install/launchd_plist.h"
#include "install/shared_memory.h"
#include "service/helper_tool.h"
#include "tests/support/property_lists.h"
#include "tests/support/service_test_support.h"

using test_support::bool_value;
using test_support::dictionary_keys;
using test_support::string_array;
using test_support::string_value;
using testing::ElementsAre;

TEST(Namespace, AcceptsOnlyLettersDigitsAndUnderscores) {
  helper_tool_t helper;
  for (const char* refused :
       {"velmora-1", "velmora.x", "a b", "", "a/b", "velmora\n", "caf\xc3\xa9", "../etc", "x*"}) {
    EXPECT_FALSE(helper._validateVLNamespace(refused)) << '"' << refused << '"';
  }
  EXPECT_FALSE(helper._validateVLNamespace(std::string("ab\0cd", 5)));
  for (const char* accepted : {"velmora_1", "Velmora2", "velmora", "_", "Z9"}) {
    EXPECT_TRUE(helper._validateVLNamespace(accepted)) << accepted;
  }
}

// Checked without recursion: a namespace of any length is answered, never a stack overflow.
TEST(Namespace, AnyLengthIsAnsweredAndNamesFitInAFileName) {
  helper_tool_t helper;
  EXPECT_FALSE(helper._validateVLNamespace(std::string(50000, 'v')));
  EXPECT_FALSE(helper._validateVLNamespace(std::string(900000, '_')));
  EXPECT_TRUE(helper._validateVLNamespace(std::string(128, 'v')));
  EXPECT_FALSE(helper._validateVLNamespace(std::string(129, 'v')));
}

TEST(LaunchdNames, FormedFromTheNamespaceUnchanged) {
  EXPECT_EQ(launchd_plist::service_label("velmora_1"), "com.corvantix.velmora_1.service");
  EXPECT_EQ(launchd_plist::service_plist_path("velmora_1"),
            "/Library/LaunchDaemons/com.corvantix.velmora_1.service.plist");
  EXPECT_EQ(launchd_plist::agent_label("velmora_1"), "com.corvantix.velmora_1.Frontend");
  EXPECT_EQ(launchd_plist::agent_plist_path("velmora_1"),
            "/Library/LaunchAgents/com.corvantix.velmora_1.Frontend.plist");
  // The queries use any text, slashes included.
  EXPECT_EQ(launchd_plist::service_plist_path("a/b"),
            "/Library/LaunchDaemons/com.corvantix.a/b.service.plist");
  EXPECT_EQ(launchd_plist::stringWithFormat("%@-%@%", "x"), "x-x%");
}

TEST(LaunchdNames, JobListsHoldExactlySixEntriesUnlessAWorkingDirectoryIsGiven) {
  const auto service = launchd_plist::service_dictionary("L", "/P");
  EXPECT_THAT(dictionary_keys(service.get()),
              ElementsAre("Disabled", "KeepAlive", "Label", "LaunchOnlyOnce", "ProgramArguments",
                          "RunAtLoad"));
  EXPECT_EQ(string_value(service.get(), "Label"), "L");
  EXPECT_EQ(bool_value(service.get(), "Disabled"), false);
  EXPECT_EQ(bool_value(service.get(), "RunAtLoad"), true);
  EXPECT_EQ(bool_value(service.get(), "KeepAlive"), false);
  EXPECT_EQ(bool_value(service.get(), "LaunchOnlyOnce"), true);
  EXPECT_THAT(string_array(service.get(), "ProgramArguments"), ElementsAre("/P", "--service"));

  const auto agent = launchd_plist::agent_dictionary("A", "/P");
  EXPECT_EQ(dictionary_keys(agent.get()).size(), 6u);
  EXPECT_THAT(string_array(agent.get(), "ProgramArguments"), ElementsAre("/P", "--agent-frontend"));

  const auto installed = launchd_plist::agent_dictionary("A", "/P", "/Applications/V.app");
  EXPECT_EQ(dictionary_keys(installed.get()).size(), 7u);
  EXPECT_EQ(string_value(installed.get(), "WorkingDirectory"), "/Applications/V.app");
}

TEST(SharedMemoryNames, MatchTheApplicationsObjects) {
  std::vector<std::string> names;
  for (const char* channel : {"gsystem", "lsystem"}) {
    for (const char* suffix : shared_memory::suffixes) {
      names.emplace_back(shared_memory::object_name(channel, suffix).view());
    }
  }
  EXPECT_THAT(names,
              ElementsAre("7ef12048", "3a73809b", "06a759f0", "ff4bc0b6", "83a44513", "515bf08d"));
}
