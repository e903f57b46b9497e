#include <climits>

#include "tests/install/install_fixture.h"
#include "tests/sandbox/support.h"

namespace install_test {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::Not;
using ::testing::StartsWith;

class Uninstall : public InstallFixture {
 protected:
  // A namespace's files as an install and the service's own installation leave them, and a
  // neighbour's that must survive.
  static void installFilesOf(const std::string& vl_namespace, const std::string& dashed) {
    EXPECT_TRUE(
        write_text("/Library/LaunchAgents/com.corvantix." + vl_namespace + ".Frontend.plist", "a"));
    EXPECT_TRUE(
        write_text("/Library/LaunchDaemons/com.corvantix." + vl_namespace + ".service.plist", "s"));
    EXPECT_TRUE(write_text("/Library/PrivilegedHelperTools/com.corvantix." + dashed + ".Helper",
                           "h", 0755));
    EXPECT_TRUE(
        write_text("/Library/LaunchDaemons/com.corvantix." + dashed + ".Helper.plist", "p"));
  }

  static void neighbourFiles() {
    EXPECT_TRUE(write_text("/Library/LaunchDaemons/com.corvantix.velmoraX.service.plist", "kept"));
    EXPECT_TRUE(write_text("/Library/LaunchAgents/com.corvantix.other.Frontend.plist", "kept"));
  }

  static bool rightsWereReset() { return !journal_calls("/usr/bin/security").empty(); }
};

TEST_F(Uninstall, RefusalsDeleteNothingAndKeepTheRights) {
  installFilesOf("velmora", "velmora");
  makeUserBundle(kInstalledBundle);
  const auto before = treeOf("/Library");

  EXPECT_FALSE(uninstall(std::nullopt, kInstalledBundle, "velmora"));
  EXPECT_EQ(messages().front(), "info Uninstalling /Applications/Velmora.app..");
  EXPECT_THAT(lines().back(), error("Authorization failed. Uninstall aborted"));

  EXPECT_FALSE(uninstall(administrator_session(), kInstalledBundle, "velmora.*"));
  EXPECT_THAT(lines().back(), error("Invalid arguments"));
  const std::string long_bundle = "/Applications/" + std::string(PATH_MAX, 'V') + ".app";
  EXPECT_FALSE(uninstall(administrator_session(), long_bundle, "velmora"));
  EXPECT_THAT(lines().back(), error("Invalid arguments"));

  EXPECT_EQ(treeOf("/Library"), before);
  EXPECT_TRUE(exists(kInstalledBundle));
  EXPECT_FALSE(rightsWereReset());
}

TEST_F(Uninstall, NamespaceWithoutUnderscoresListsTheServiceListTwice) {
  installFilesOf("velmora", "velmora");
  EXPECT_TRUE(write_text("/Library/LaunchAgents/COM.CORVANTIX.VELMORA.Extra.plist", "any case"));
  neighbourFiles();
  makeUserBundle(kInstalledBundle);

  ASSERT_TRUE(uninstall(administrator_session(), kInstalledBundle, "velmora"));

  const std::string helper_list = "/Library/LaunchDaemons/com.corvantix.velmora.Helper.plist";
  std::vector<std::string> deletions;
  for (const auto& line : messages()) {
    if (line.starts_with("info Deleting Files ") || line.starts_with("warning Can't delete ")) {
      deletions.push_back(line);
    }
  }
  EXPECT_THAT(
      deletions,
      ElementsAre("info Deleting Files /Library/LaunchAgents/COM.CORVANTIX.VELMORA.Extra.plist",
                  "info Deleting Files "
                  "/Library/LaunchAgents/com.corvantix.velmora.Frontend.plist",
                  "info Deleting Files " + helper_list,
                  "info Deleting Files "
                  "/Library/LaunchDaemons/com.corvantix.velmora.service.plist",
                  "info Deleting Files "
                  "/Library/PrivilegedHelperTools/com.corvantix.velmora.Helper",
                  "info Deleting Files " + helper_list, "warning Can't delete " + helper_list));
  EXPECT_THAT(lines().back(), info("Velmora uninstalled."));
  EXPECT_TRUE(traced(info("Velmora Files deleted")));

  EXPECT_THAT(treeOf("/Library/LaunchDaemons"),
              ElementsAre("com.corvantix.velmoraX.service.plist"));
  EXPECT_THAT(treeOf("/Library/LaunchAgents"), ElementsAre("com.corvantix.other.Frontend.plist"));
  EXPECT_THAT(treeOf("/Library/PrivilegedHelperTools"), IsEmpty());
  EXPECT_FALSE(exists(kInstalledBundle));
  EXPECT_TRUE(rightsWereReset());
  EXPECT_THAT(sandbox::journal_calls_of("/usr/bin/security"), Not(IsEmpty()));
}

TEST_F(Uninstall, UnderscoresBecomeDashesInTheServiceOwnFiles) {
  installFilesOf("velmora_a", "velmora-a");
  installFilesOf("velmora_b", "velmora-b");
  makeUserBundle(kInstalledBundle);

  ASSERT_TRUE(uninstall(administrator_session(), kInstalledBundle, "velmora_a"));
  EXPECT_THAT(flowWarnings(), IsEmpty());
  EXPECT_THAT(
      treeOf("/Library/LaunchDaemons"),
      ElementsAre("com.corvantix.velmora-b.Helper.plist", "com.corvantix.velmora_b.service.plist"));
  EXPECT_THAT(treeOf("/Library/LaunchAgents"),
              ElementsAre("com.corvantix.velmora_b.Frontend.plist"));
  EXPECT_THAT(treeOf("/Library/PrivilegedHelperTools"),
              ElementsAre("com.corvantix.velmora-b.Helper"));
}

TEST_F(Uninstall, BundlePathWithoutSuffixIsRefusedAfterTheDeletions) {
  installFilesOf("velmora", "velmora");
  makeUserBundle("/Applications/Velmora");

  EXPECT_FALSE(uninstall(administrator_session(), "/Applications/Velmora", "velmora"));
  EXPECT_THAT(lines().back(), error("Wrong install source. aborted"));
  EXPECT_THAT(treeOf("/Library/LaunchDaemons"), IsEmpty());
  EXPECT_THAT(treeOf("/Library/PrivilegedHelperTools"), IsEmpty());
  EXPECT_TRUE(exists("/Applications/Velmora/Contents/Info.plist"));
  EXPECT_FALSE(traced(info("Velmora Files deleted")));
  EXPECT_FALSE(rightsWereReset());
}

TEST_F(Uninstall, BundleThatCannotBeRemovedKeepsTheRights) {
  installFilesOf("velmora", "velmora");
  EXPECT_FALSE(uninstall(administrator_session(), kInstalledBundle, "velmora"));
  const auto last = lines().back();
  EXPECT_EQ(last.level, "error");
  EXPECT_THAT(last.message, StartsWith("Can't delete app(\u201cVelmora.app\u201d couldn\u2019t be "
                                       "removed: No such file or directory"));
  EXPECT_TRUE(traced(info("Velmora Files deleted")));
  EXPECT_FALSE(rightsWereReset());

  makeUserBundle(kInstalledBundle);
  const std::string locked = std::string(kInstalledBundle) + "/Contents/Info.plist";
  ASSERT_EQ(sandbox::run({"/usr/bin/chattr", "+i", locked}).status, 0);
  const bool removed = uninstall(administrator_session(), kInstalledBundle, "velmora");
  sandbox::run({"/usr/bin/chattr", "-i", locked});
  EXPECT_FALSE(removed);
  EXPECT_THAT(lines().back().message, StartsWith("Can't delete app("));
  EXPECT_FALSE(rightsWereReset());
}

TEST_F(Uninstall, LinkedBundleIsRemovedNotFollowed) {
  makeUserBundle("/home/alice/Real.app");
  ASSERT_EQ(symlink("/home/alice/Real.app", kInstalledBundle), 0);

  ASSERT_TRUE(uninstall(administrator_session(), kInstalledBundle, "velmora"));
  EXPECT_FALSE(exists(kInstalledBundle));
  EXPECT_TRUE(exists("/home/alice/Real.app/Contents/MacOS/Velmora"));
}

}  // namespace
}  // namespace install_test
