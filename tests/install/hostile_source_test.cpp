#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <map>
#include <thread>

#include "platform/foundation/file_manager.h"
#include "tests/install/install_fixture.h"
#include "tests/sandbox/support.h"

namespace install_test {
namespace {

namespace fm = platform::file_manager;
using ::testing::IsEmpty;
using ::testing::UnorderedElementsAre;

constexpr const char* kInjected = "/tmp/p";

// Owner, group and mode of every entry of /etc (not following links), to show nothing changed.
std::map<std::string, std::tuple<mode_t, uid_t, gid_t>> etcSnapshot() {
  std::map<std::string, std::tuple<mode_t, uid_t, gid_t>> snapshot;
  for (const auto& relative : treeOf("/etc")) {
    const auto status = status_of("/etc/" + relative);
    if (status) snapshot["/etc/" + relative] = {status->mode, status->uid, status->gid};
  }
  return snapshot;
}

// Every entry that was there before is still there, as it was; the namespace's own global
// configuration may have been added.
void expectUnchanged(const std::map<std::string, std::tuple<mode_t, uid_t, gid_t>>& before) {
  const auto after = etcSnapshot();
  for (const auto& [path, status] : before) {
    const auto found = after.find(path);
    ASSERT_NE(found, after.end()) << path;
    EXPECT_EQ(found->second, status) << path;
  }
  for (const auto& [path, status] : after) {
    EXPECT_TRUE(before.contains(path) || path.starts_with("/etc/velmora")) << path;
  }
}

// Whether any regular file under root holds the text (links are not followed).
bool treeHolds(const std::string& root, const std::string& text) {
  for (const auto& relative : treeOf(root)) {
    const std::string path = std::filesystem::path(root) / relative;
    const auto status = status_of(path);
    if (status && S_ISREG(status->mode) && read_text(path).find(text) != std::string::npos) {
      return true;
    }
  }
  return false;
}

class HostileSource : public InstallFixture {
 protected:
  void SetUp() override {
    InstallFixture::SetUp();
    unlink(kInjected);
    shadow_ = read_text("/etc/shadow");
    ASSERT_FALSE(shadow_.empty());
  }

  // A line of the shadow file that only root may read.
  std::string secret() const { return shadow_.substr(shadow_.find("alice:"), 40); }

  std::string shadow_;
};

TEST_F(HostileSource, ShellCharactersInTheBundlePathAreJustCharacters) {
  // Each piece would create /tmp/p if the path ever reached a shell; "/" cannot be part of a
  // file name, so the shell would have to make it.
  const std::string touch = "touch ${PWD%%[a-z]*}tmp${PWD%%[a-z]*}p";
  const std::string odd = "q'\"$(" + touch + ");`" + touch + "`\n;" + touch + " -";
  sandbox::run({"/bin/sh", "-c", "echo $(" + touch + ")"});
  ASSERT_TRUE(exists(kInjected)) << "the test's premise: a shell runs this text";
  ASSERT_EQ(unlink(kInjected), 0);
  makeDirectory("/home/alice/" + odd, 0755, kAlice);
  const std::string in_folder = makeUserBundle("/home/alice/" + odd + "/Velmora.app");
  ASSERT_TRUE(install(administrator_session(), in_folder, "velmora"));
  // The line feed in the path is written as an escape: it never ends the trace line.
  std::string escaped = in_folder;
  escaped.replace(escaped.find('\n'), 1, "\\n");
  EXPECT_TRUE(traced(info("* from: " + escaped + " *")));
  EXPECT_TRUE(exists("/Applications/Velmora.app/Contents/MacOS/Velmora"));

  // The odd characters in the bundle name itself end up in /Applications and in the lists.
  const std::string odd_name = "V" + odd + ".app";
  const std::string named = makeUserBundle("/home/alice/" + odd_name);
  ASSERT_TRUE(install(administrator_session(), named, "velmora"));
  EXPECT_TRUE(exists("/Applications/" + odd_name + "/Contents/MacOS/Velmora"));
  // The log holds one line per start; this path spans two of them.
  const std::string program = "/Applications/" + odd_name + "/Contents/MacOS/Velmora";
  EXPECT_TRUE(sandbox::eventually(
      [&] { return read_text(kStartedLog).find(program) != std::string::npos; }));

  ASSERT_TRUE(uninstall(administrator_session(), "/Applications/" + odd_name, "velmora"));
  EXPECT_FALSE(exists("/Applications/" + odd_name));
  EXPECT_FALSE(exists(kInjected)) << "a path was run as shell text";
}

TEST_F(HostileSource, LinkToShadowInsideTheBundleStaysALink) {
  const auto before = status_of("/etc/shadow");
  makeUserBundle("/home/alice/Velmora.app");
  ASSERT_EQ(symlink("/etc/shadow", "/home/alice/Velmora.app/Contents/Resources/shadow"), 0);

  ASSERT_TRUE(install(administrator_session(), "/home/alice/Velmora.app", "velmora"));

  const std::string copied = "/Applications/Velmora.app/Contents/Resources/shadow";
  ASSERT_TRUE(status_of(copied));
  EXPECT_TRUE(S_ISLNK(status_of(copied)->mode));
  const auto after = status_of("/etc/shadow");
  EXPECT_EQ(after->mode, before->mode);
  EXPECT_EQ(after->uid, before->uid);
  EXPECT_EQ(after->gid, before->gid);
  EXPECT_EQ(read_text("/etc/shadow"), shadow_);
  EXPECT_FALSE(treeHolds("/Applications", secret()));
}

TEST_F(HostileSource, InstalledBundleThatIsALinkIsReplacedNotFollowed) {
  const std::string target = makeUserBundle("/home/alice/Target.app");
  ASSERT_EQ(symlink(target.c_str(), kInstalledBundle), 0);
  const std::string source = makeUserBundle("/home/alice/Velmora.app");

  ASSERT_TRUE(install(administrator_session(), source, "velmora"));
  EXPECT_TRUE(S_ISDIR(status_of(kInstalledBundle)->mode));
  EXPECT_EQ(treeOf(target), treeOf(source)) << "the link's target lost files";
  EXPECT_EQ(status_of(target + "/Contents/Info.plist")->uid, kAlice);
}

TEST_F(HostileSource, BundleThatIsALinkIsNotInstalled) {
  const auto before = etcSnapshot();
  ASSERT_EQ(symlink("/etc", "/home/alice/Velmora.app"), 0);

  EXPECT_FALSE(install(administrator_session(), "/home/alice/Velmora.app", "velmora"));
  EXPECT_THAT(
      lines().back(),
      error("Can't copy app(\u201cVelmora.app\u201d couldn\u2019t be copied because it is a "
            "symbolic link, not a bundle folder.)"));
  EXPECT_THAT(treeOf("/Applications"), IsEmpty());
  expectUnchanged(before);
}

// A user swaps a folder of the source for a link to /etc, again and again, while root copies.
TEST_F(HostileSource, SwappingAFolderForALinkToEtcNeverLeaksOrChangesEtc) {
  const std::string bundle = makeUserBundle("/home/alice/Velmora.app");
  const std::string folder = bundle + "/Contents/Resources";
  const std::string aside = bundle + "/Contents/Resources.real";
  const auto before = etcSnapshot();
  makeDirectory("/Applications/copies");

  std::atomic<bool> stop{false};
  std::atomic<int> swaps{0};
  std::thread swapper([&] {
    while (!stop.load()) {
      if (rename(folder.c_str(), aside.c_str()) != 0) continue;
      const bool linked = symlink("/etc", folder.c_str()) == 0;
      std::this_thread::yield();
      if (linked) unlink(folder.c_str());
      rename(aside.c_str(), folder.c_str());
      ++swaps;
      std::this_thread::yield();  // in place about as often as it is a link
    }
  });
  int copied = 0;
  for (int i = 0; i < 200; ++i) {
    const std::string destination = "/Applications/copies/" + std::to_string(i) + ".app";
    if (fm::copyItemAtPath(bundle, destination, nullptr)) ++copied;
  }
  // The whole install too: its recursive chmod and chown must not reach /etc through a link.
  // A copy that finds the folder gone fails, as it should; a refused install takes milliseconds.
  int installed = 0;
  std::string refusal;
  for (int i = 0; i < 50 && installed < 2; ++i) {
    if (install(administrator_session(), bundle, "velmora")) {
      ++installed;
    } else {
      refusal = lines().back().message;
    }
  }
  stop = true;
  swapper.join();

  EXPECT_GT(swaps.load(), 0);
  EXPECT_GT(copied, 0);
  EXPECT_GT(installed, 0) << refusal;
  EXPECT_FALSE(treeHolds("/Applications", secret()));
  EXPECT_FALSE(treeHolds("/Applications", "velmora throwaway root"));
  expectUnchanged(before);
  EXPECT_EQ(read_text("/etc/shadow"), shadow_);
}

TEST_F(HostileSource, TwoNamespacesInstalledAtOnceKeepTheirOwnFiles) {
  const std::string alpha = makeUserBundle("/home/alice/Alpha.app");
  const std::string beta = makeUserBundle("/home/alice/Beta.app");
  EXPECT_TRUE(write_text(alpha + "/Contents/Resources/which", "alpha"));
  EXPECT_TRUE(write_text(beta + "/Contents/Resources/which", "beta"));
  const std::string config = makeUserConfig("/home/alice/conf");
  const auto alpha_auth = administrator_session();
  const auto beta_auth = administrator_session();
  // One answer per request, whichever asks first.
  EXPECT_TRUE(write_text("/var/run/authorization-agent.scenario",
                         "alice alice-secret\nalice alice-secret\n", 0600));

  bool alpha_done = false;
  bool beta_done = false;
  std::thread alpha_install([&] { alpha_done = install(alpha_auth, alpha, "alpha", config); });
  std::thread beta_install([&] { beta_done = install(beta_auth, beta, "beta", config); });
  alpha_install.join();
  beta_install.join();

  ASSERT_TRUE(alpha_done);
  ASSERT_TRUE(beta_done);
  EXPECT_EQ(read_text("/Applications/Alpha.app/Contents/Resources/which"), "alpha");
  EXPECT_EQ(read_text("/Applications/Beta.app/Contents/Resources/which"), "beta");
  EXPECT_EQ(treeOf("/Applications/Alpha.app"), treeOf(alpha));
  EXPECT_EQ(treeOf("/Applications/Beta.app"), treeOf(beta));
  EXPECT_THAT(treeOf("/Library/LaunchDaemons"),
              UnorderedElementsAre("com.corvantix.alpha.service.plist",
                                   "com.corvantix.beta.service.plist"));
  EXPECT_THAT(treeOf("/Library/LaunchAgents"),
              UnorderedElementsAre("com.corvantix.alpha.Frontend.plist",
                                   "com.corvantix.beta.Frontend.plist"));
  EXPECT_THAT(read_text("/Library/LaunchAgents/com.corvantix.alpha.Frontend.plist"),
              ::testing::HasSubstr("/Applications/Alpha.app/Contents/MacOS/Velmora"));
  EXPECT_THAT(read_text("/Library/LaunchAgents/com.corvantix.beta.Frontend.plist"),
              ::testing::HasSubstr("/Applications/Beta.app/Contents/MacOS/Velmora"));
  EXPECT_EQ(read_text("/etc/alpha/system.conf"), "system.conf\n");
  EXPECT_EQ(read_text("/etc/beta/system.conf"), "system.conf\n");
  EXPECT_TRUE(exists("/var/log/alpha.trace"));
  EXPECT_TRUE(exists("/var/log/beta.trace"));
}

}  // namespace
}  // namespace install_test
