#include <errno.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <sstream>

#include "install/launchd_plist.h"
#include "platform/authorization/rights_database.h"
#include "platform/foundation/property_list.h"
#include "tests/install/install_fixture.h"
#include "tests/sandbox/support.h"
#include "tests/system/replaced_tool.h"

namespace install_test {
namespace {

namespace authorization = platform::authorization;

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::EndsWith;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;
using ::testing::StartsWith;

constexpr const char* kSource = "/home/alice/Downloads/Velmora.app";
constexpr const char* kServiceList = "/Library/LaunchDaemons/com.corvantix.velmora.service.plist";
constexpr const char* kAgentList = "/Library/LaunchAgents/com.corvantix.velmora.Frontend.plist";
constexpr const char* kProgram = "/Applications/Velmora.app/Contents/MacOS/Velmora";

// The objects of the "gsystem" and "lsystem" channels, by the application's naming rule.
constexpr const char* kChannelObjects[] = {"7ef12048", "3a73809b", "06a759f0",
                                           "ff4bc0b6", "83a44513", "515bf08d"};

// Whether `wanted` appears in `all` in this order, other entries allowed in between.
bool inOrder(const std::vector<std::string>& all, const std::vector<std::string>& wanted) {
  auto at = all.begin();
  for (const auto& item : wanted) {
    at = std::find(at, all.end(), item);
    if (at == all.end()) return false;
    ++at;
  }
  return true;
}

void makeSharedMemory(const std::string& name) {
  const int fd = shm_open(("/" + name).c_str(), O_CREAT | O_RDWR, 0600);
  ASSERT_GE(fd, 0) << name;
  close(fd);
}

std::string stringIn(const std::string& plist_path, const char* key) {
  const auto list = platform::property_list::read_file(plist_path);
  if (!list) return "<unreadable>";
  return platform::property_list::string_entry(list.get(), key).value_or("<missing>");
}

std::vector<std::string> programArguments(const std::string& plist_path) {
  std::vector<std::string> result;
  const auto list = platform::property_list::read_file(plist_path);
  const plist_t array = list ? plist_dict_get_item(list.get(), "ProgramArguments") : nullptr;
  if (array == nullptr) return result;
  for (uint32_t i = 0; i < plist_array_get_size(array); ++i) {
    result.push_back(
        platform::property_list::string_value(plist_array_get_item(array, i)).value_or(""));
  }
  return result;
}

std::vector<std::string> started() {
  sandbox::eventually([] { return !startedApplications().empty(); });
  return startedApplications();
}

class AppInstall : public InstallFixture {
 protected:
  void SetUp() override {
    InstallFixture::SetUp();
    makeDirectory("/home/alice/Downloads", 0755, kAlice);
    makeUserBundle(kSource);
    config_ = makeUserConfig("/home/alice/conf");
  }

  // Nothing happened; an authorized request that was refused later has reset the rights.
  void expectNothingChanged(bool rights_reset = true) {
    EXPECT_THAT(treeOf("/Applications"), IsEmpty());
    EXPECT_THAT(treeOf("/Library/LaunchDaemons"), IsEmpty());
    EXPECT_THAT(treeOf("/Library/LaunchAgents"), IsEmpty());
    EXPECT_THAT(journal_calls("/bin/launchctl"), IsEmpty());
    EXPECT_FALSE(exists("/etc/velmora"));
    EXPECT_FALSE(traced(info("Quiting Velmora..")));
    if (rights_reset) {
      EXPECT_THAT(journal_calls("/usr/bin/security"), Not(IsEmpty())) << "rights were not reset";
    } else {
      EXPECT_THAT(journal_calls("/usr/bin/security"), IsEmpty());
      EXPECT_FALSE(traced(info("Cleaning authorizationdb..")));
    }
    EXPECT_EQ(status_of(kSource)->uid, kAlice);
  }

  // A service list that launchd has loaded, as an earlier install leaves it.
  static void loadService(const std::string& program) {
    const auto list = launchd_plist::service_dictionary("com.corvantix.velmora.service", program);
    ASSERT_TRUE(platform::property_list::write_xml(kServiceList, list.get(), true));
    ASSERT_EQ(sandbox::run({"/bin/launchctl", "load", kServiceList}).status, 0);
    sandbox::clear_journal();
  }

  std::string config_;
};

TEST_F(AppInstall, RefusalsChangeNothing) {
  EXPECT_FALSE(install(std::nullopt, kSource, "velmora", config_));
  EXPECT_THAT(messages(),
              ElementsAre("info * Installing Velmora (velmora) *",
                          "info * from: /home/alice/Downloads/Velmora.app *",
                          "info * sys_conf: /home/alice/conf *",
                          StartsWith("error wrong auth data"), "error Authorization failed"));
  expectNothingChanged(false);

  sandbox::clear_journal();
  EXPECT_FALSE(install(cancelled(), kSource, "velmora", config_));
  EXPECT_THAT(lines().back(), error("Authorization failed"));
  expectNothingChanged(false);

  for (const std::string& vl_namespace :
       std::vector<std::string>{"bad-name", "a.b", "../x", "", std::string(50000, 'v')}) {
    SetUp();
    EXPECT_FALSE(install(administrator_session(), kSource, vl_namespace, config_)) << vl_namespace;
    EXPECT_THAT(lines().back(), error("Invalid arguments")) << vl_namespace;
    expectNothingChanged(false);
  }

  // Texts longer than any path are refused before anything is done with them.
  const std::string long_directory = "/home/alice/" + std::string(PATH_MAX, 'd');
  for (const auto& [source, config] : {std::pair{long_directory + "/Velmora.app", config_},
                                       std::pair{std::string(kSource), long_directory}}) {
    SetUp();
    EXPECT_FALSE(install(administrator_session(), source, "velmora", config));
    EXPECT_THAT(lines().back(), error("Invalid arguments"));
    expectNothingChanged(false);
  }

  for (const std::string source : {"/home/alice/Downloads/Velmora.APP", "/home/alice/Velmora",
                                   "/home/alice/Velmora.app.zip"}) {
    SetUp();
    EXPECT_FALSE(install(administrator_session(), source, "velmora", config_)) << source;
    EXPECT_THAT(lines().back(), error("Wrong install source. aborted")) << source;
    expectNothingChanged();
  }
}

// Whoever can connect may send made-up authorization data; that must not undo an
// administrator's rules, here one that forbids the service install.
TEST_F(AppInstall, RefusedRequestKeepsAnAdministratorsRules) {
  const char* right = "com.corvantix.Velmora.Helper.install_service";
  authorization::rights_database_t database(authorization::kAuthorizationDatabasePath);
  ASSERT_EQ(database.set(right, {"deny", "Not on this computer"}),
            platform::errAuthorizationSuccess);

  EXPECT_FALSE(install(std::vector<std::uint8_t>(32, 0x5a), kSource, "velmora", config_));
  EXPECT_THAT(lines().back(), error("Authorization failed"));
  authorization::right_definition_t definition;
  EXPECT_EQ(database.get(right, &definition), platform::errAuthorizationSuccess);
  EXPECT_EQ(definition.rule, "deny");
  expectNothingChanged(false);
}

TEST_F(AppInstall, FreshInstallReplacesBundleListsAndStaleFiles) {
  // An older installation: its bundle, its own lists and another namespace's.
  makeDirectory("/Applications/Velmora.app");
  EXPECT_TRUE(write_text("/Applications/Velmora.app/old-version", "1.0"));
  loadService("/bin/true");
  EXPECT_TRUE(write_text("/Library/LaunchDaemons/com.corvantix.velmora_old.service.plist", "old"));
  EXPECT_TRUE(write_text("/Library/LaunchAgents/com.corvantix.velmora_old.Frontend.plist", "old"));
  EXPECT_TRUE(write_text("/Library/LaunchDaemons/com.corvantix.other.service.plist", "kept"));
  EXPECT_TRUE(write_text("/usr/local/bin/vlwrap_velmora", "legacy", 0755));
  EXPECT_TRUE(write_text("/usr/local/bin/vlwrap_velmora_2", "legacy", 0755));
  EXPECT_TRUE(write_text("/usr/local/bin/other_tool", "kept", 0755));
  const std::string own_list = std::string("/Library/LaunchDaemons/com.corvantix.velmora-") +
                               program_invocation_short_name + ".Helper.plist";
  EXPECT_TRUE(write_text(own_list, "running service"));
  EXPECT_TRUE(
      write_text("/Library/LaunchDaemons/com.corvantix.velmora-old.Helper.plist", "other copy"));
  for (const char* name : kChannelObjects)
    makeSharedMemory(name);
  makeSharedMemory("unrelated");

  ASSERT_TRUE(install(administrator_session(), kSource, "velmora", config_));

  const std::string old_service = "/Library/LaunchDaemons/com.corvantix.velmora_old.service.plist";
  const std::string old_agent = "/Library/LaunchAgents/com.corvantix.velmora_old.Frontend.plist";
  EXPECT_TRUE(inOrder(
      messages(),
      {"info * Installing Velmora (velmora) *", "info Cleaning authorizationdb..",
       "info Quiting Velmora..", "info Installing..", "info CHMODing CHOWNing..",
       "info Deleting /Applications/Velmora.app", "info Configure Launch Services..",
       "info Disable global service autostat and stop agent",
       std::string("info Deleting Service file ") + kServiceList,
       "info Deleting Service file " + old_service, std::string("info Installing ") + kServiceList,
       "info Deleting Agent file " + old_agent, std::string("info Installing ") + kAgentList,
       "info Deleting legacy /usr/local/bin/vlwrap_velmora",
       "info Deleting legacy /usr/local/bin/vlwrap_velmora_2",
       "info Deleting plist /Library/LaunchDaemons/com.corvantix.velmora-old.Helper.plist",
       "info SHM cleanup", "info Starting installed app", "info ** Installation finished **"}))
      << ::testing::PrintToString(messages());
  EXPECT_THAT(messages(), Not(Contains(HasSubstr("Deleting plist " + own_list))));
  EXPECT_THAT(flowWarnings(), IsEmpty());
  EXPECT_THAT(messages(), Not(Contains(StartsWith("error"))));

  // The bundle: the source's tree, replacing the old one, given to root.
  EXPECT_EQ(treeOf(kInstalledBundle), treeOf(kSource));
  EXPECT_FALSE(exists("/Applications/Velmora.app/old-version"));
  EXPECT_EQ(read_text(kProgram), read_text(std::string(kSource) + "/Contents/MacOS/Velmora"));

  // The lists: written anew, program and working directory in the installed bundle.
  EXPECT_EQ(stringIn(kServiceList, "Label"), "com.corvantix.velmora.service");
  EXPECT_THAT(programArguments(kServiceList), ElementsAre(kProgram, "--service"));
  EXPECT_EQ(stringIn(kServiceList, "WorkingDirectory"), "<missing>");
  EXPECT_EQ(stringIn(kAgentList, "Label"), "com.corvantix.velmora.Frontend");
  EXPECT_THAT(programArguments(kAgentList), ElementsAre(kProgram, "--agent-frontend"));
  EXPECT_EQ(stringIn(kAgentList, "WorkingDirectory"), kInstalledBundle);

  // Stale files: other namespaces' lists, legacy tools and other copies of this service.
  EXPECT_FALSE(exists(old_service));
  EXPECT_FALSE(exists(old_agent));
  EXPECT_TRUE(exists("/Library/LaunchDaemons/com.corvantix.other.service.plist"));
  EXPECT_THAT(treeOf("/usr/local/bin"), ElementsAre("other_tool"));
  EXPECT_TRUE(exists(own_list));
  EXPECT_FALSE(exists("/Library/LaunchDaemons/com.corvantix.velmora-old.Helper.plist"));
  EXPECT_THAT(treeOf("/dev/shm"), ElementsAre("unrelated"));

  // The namespace's global trace and configuration.
  EXPECT_TRUE(exists("/var/log/velmora.trace"));
  EXPECT_EQ(read_text("/etc/velmora/system.conf"), "system.conf\n");

  // The old jobs were stopped: the agent always, the service because its list existed.
  EXPECT_THAT(journal_calls("/bin/launchctl"),
              ElementsAre(ElementsAre("stop", "com.corvantix.velmora.Frontend"),
                          ElementsAre("unload", kAgentList),
                          ElementsAre("stop", "com.corvantix.velmora.service"),
                          ElementsAre("unload", kServiceList)));
  EXPECT_THAT(journal_calls("/usr/bin/xattr"),
              ElementsAre(ElementsAre("-d", "-r", "com.apple.quarantine", kInstalledBundle)));
  EXPECT_THAT(started(), ElementsAre(kProgram));
}

TEST_F(AppInstall, InstalledBundleBelongsToRootAndIsWritableOnlyByIt) {
  ASSERT_EQ(symlink("MacOS", (std::string(kSource) + "/Contents/Current").c_str()), 0);
  ASSERT_EQ(lchown((std::string(kSource) + "/Contents/Current").c_str(), kAlice, kAlice), 0);
  ASSERT_TRUE(install(administrator_session(), kSource, "velmora", config_));
  const auto tree = treeOf(kInstalledBundle);
  ASSERT_EQ(tree.size(), treeOf(kSource).size());
  for (const auto& relative : tree) {
    const auto status = status_of(std::string(kInstalledBundle) + "/" + relative);
    ASSERT_TRUE(status) << relative;
    EXPECT_EQ(status->uid, 0u) << relative;
    EXPECT_EQ(status->gid, 0u) << relative << " (wheel)";
    if (!S_ISLNK(status->mode)) {
      EXPECT_EQ(status->mode & 07777, 0755u) << relative;
    }
  }
  EXPECT_EQ(status_of(kInstalledBundle)->mode & 07777, 0755u);
}

// The user's bundle has group- and other-writable entries. Until the recursive chmod and chown
// run, nothing of the copy may be writable by another user: bob could open the executable for
// writing then and keep the descriptor. The replaced chmod records what the copy made.
TEST_F(AppInstall, CopyIsNeverWritableByOthersBeforeItIsRoots) {
  const replaced_tool_t chmod(
      "/bin/chmod",
      "case \"$3\" in *Velmora.app) find \"$3\" ! -type l -printf '%m %U %p\\n' >> "
      "/tmp/copied-modes ;; esac");
  ASSERT_TRUE(install(administrator_session(), kSource, "velmora", config_));
  ASSERT_THAT(chmod.calls(), Contains(ElementsAre("-R", "755", EndsWith("/Velmora.app"))));
  const std::string recorded = read_text("/tmp/copied-modes");
  std::istringstream entries(recorded);
  int count = 0;
  for (std::string mode, owner, path; entries >> mode >> owner && std::getline(entries, path);) {
    ++count;
    EXPECT_EQ(std::stoul(mode, nullptr, 8) & 022, 0u) << path;
    EXPECT_EQ(owner, "0") << path;
  }
  EXPECT_EQ(count, 7) << recorded;
}

TEST_F(AppInstall, SourceInApplicationsIsTakenAsInstalled) {
  makeDirectory("/Applications/Velmora.app", 0700, kAlice);
  makeUserBundle("/Applications/Velmora.app/inner.app");
  ASSERT_TRUE(install(administrator_session(), kInstalledBundle, "velmora", config_));
  EXPECT_TRUE(traced(warning("already installed? skipping")));
  for (const char* skipped :
       {"info Quiting Velmora..", "info Installing..", "info CHMODing CHOWNing..",
        "info Deleting /Applications/Velmora.app"}) {
    EXPECT_THAT(messages(), Not(Contains(skipped)));
  }
  EXPECT_EQ(status_of(kInstalledBundle)->mode & 07777, 0700u) << "mode changed";
  EXPECT_EQ(status_of(kInstalledBundle)->uid, kAlice) << "owner changed";
  EXPECT_EQ(stringIn(kAgentList, "WorkingDirectory"), kInstalledBundle);
  EXPECT_TRUE(traced(info("** Installation finished **")));

  // A bundle deeper in the folder counts as installed too, but the installed bundle is the one
  // directly in /Applications: the lists name it and it is what starts.
  SetUp();
  makeDirectory("/Applications/Sub");
  makeUserBundle("/Applications/Sub/Velmora.app");
  makeUserBundle(kInstalledBundle);
  ASSERT_TRUE(
      install(administrator_session(), "/Applications/Sub/Velmora.app", "velmora", config_));
  EXPECT_TRUE(traced(warning("already installed? skipping")));
  EXPECT_EQ(stringIn(kAgentList, "WorkingDirectory"), kInstalledBundle);
  EXPECT_THAT(programArguments(kServiceList), ElementsAre(kProgram, "--service"));
  EXPECT_THAT(started(), ElementsAre(kProgram));
  EXPECT_EQ(status_of("/Applications/Sub/Velmora.app")->uid, kAlice);
}

TEST_F(AppInstall, LaterFailuresAreReportedAndTheReplyIsStillYes) {
  EXPECT_TRUE(write_text(kServiceList, "<plist><dict/></plist>"));
  sandbox::make_tool_fail("launchctl");
  sandbox::make_tool_fail("xattr");
  // An application whose executable is missing cannot start.
  ASSERT_EQ(unlink((std::string(kSource) + "/Contents/MacOS/Velmora").c_str()), 0);

  EXPECT_TRUE(install(administrator_session(), kSource, "velmora", config_));
  EXPECT_TRUE(inOrder(messages(), {"warning failed to stop com.corvantix.velmora.service",
                                   "warning failed to unload com.corvantix.velmora.service",
                                   "warning Can't remove from quarantine",
                                   "warning Can't start app", "info ** Installation finished **"}))
      << ::testing::PrintToString(messages());

  // Without a service list there is nothing to stop or unload, and nothing to complain about.
  SetUp();
  EXPECT_TRUE(install(administrator_session(), kSource, "velmora", config_));
  EXPECT_THAT(journal_calls("/bin/launchctl"),
              ElementsAre(ElementsAre("stop", "com.corvantix.velmora.Frontend"),
                          ElementsAre("unload", kAgentList)));
  EXPECT_THAT(messages(), Not(Contains(HasSubstr("failed to"))));
}

// A copy that fails (a pipe in the source) leaves the installed application as it was, and
// nothing of the new one behind. A full disk is among the daemon's fault runs (tests/service).
TEST_F(AppInstall, FailedCopyKeepsThePreviousInstallation) {
  makeUserBundle(kInstalledBundle);
  EXPECT_TRUE(write_text(std::string(kInstalledBundle) + "/Contents/previous", "old\n"));
  const auto previous = treeOf("/Applications");
  ASSERT_EQ(mkfifo((std::string(kSource) + "/Contents/pipe").c_str(), 0644), 0);

  EXPECT_FALSE(install(administrator_session(), kSource, "velmora", config_));
  const auto last = lines().back();
  EXPECT_EQ(last.level, "error");
  EXPECT_THAT(last.message, StartsWith("Can't copy app(\u201cVelmora.app\u201d couldn\u2019t be "
                                       "copied"));
  EXPECT_THAT(last.message, HasSubstr("/Contents/pipe"));
  EXPECT_FALSE(traced(info("Deleting /Applications/Velmora.app")));
  EXPECT_FALSE(traced(info("CHMODing CHOWNing..")));
  EXPECT_EQ(treeOf("/Applications"), previous);
  EXPECT_EQ(read_text(std::string(kInstalledBundle) + "/Contents/previous"), "old\n");
  EXPECT_THAT(treeOf("/Library/LaunchDaemons"), IsEmpty());
}

// The new bundle is already in place when the old one turns out not to be removable: the failure
// is reported, and what is left of the old one stays in the hidden folder beside it.
TEST_F(AppInstall, OldBundleThatCannotBeDeletedIsReported) {
  makeUserBundle(kInstalledBundle);
  EXPECT_TRUE(write_text(std::string(kInstalledBundle) + "/Contents/locked", "x"));
  ASSERT_EQ(
      sandbox::run({"/usr/bin/chattr", "+i", std::string(kInstalledBundle) + "/Contents/locked"})
          .status,
      0);

  const bool installed = install(administrator_session(), kSource, "velmora", config_);
  std::vector<std::string> hidden;
  for (const auto& entry : treeOf("/Applications")) {
    if (entry.starts_with(".Velmora.app.") && entry.ends_with("/Contents/locked")) {
      hidden.push_back(entry);
      sandbox::run({"/usr/bin/chattr", "-i", "/Applications/" + entry});
    }
  }

  EXPECT_FALSE(installed);
  const auto last = lines().back();
  EXPECT_EQ(last.level, "error");
  EXPECT_THAT(last.message, StartsWith("Can't delete app(\u201cVelmora.app\u201d couldn\u2019t be "
                                       "removed: Operation not permitted"));
  EXPECT_EQ(hidden.size(), 1u);
  EXPECT_TRUE(exists(kProgram));
  EXPECT_FALSE(exists(std::string(kInstalledBundle) + "/Contents/locked"));
}

}  // namespace
}  // namespace install_test
