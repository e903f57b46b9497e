// The global trace and configuration of a namespace, in the throwaway root's /var/log and /etc.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "service/helper_tool.h"
#include "tests/sandbox/support.h"
#include "tests/support/files.h"
#include "tests/support/sandbox_session.h"
#include "tests/support/service_test_support.h"

using sandbox_session::kAlice;
using test_support::is_line;
using test_support::status_of;
using testing::ElementsAre;
using testing::ElementsAreArray;

namespace {

constexpr unsigned staff = 20;
const auto creating = is_line("info", "Creating global config..");
const auto correcting = is_line("info", "Correcting permissions..");

class GlobalConfig : public testing::Test {
 protected:
  // A user's configuration folder holding the given files, owned by alice with mode 600.
  std::string user_config(const std::vector<std::string>& names) {
    for (const auto& name : names) {
      const auto path = source.add_file(name, "user " + name);
      EXPECT_EQ(::chown(path.c_str(), kAlice, kAlice), 0);
      std::filesystem::permissions(
          path, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    }
    return source.path();
  }

  // Every entry of the global folder, and the folder itself, is 775 root:staff.
  void expect_corrected(const std::string& dir) {
    std::vector<std::string> paths{dir};
    for (const auto& entry : std::filesystem::recursive_directory_iterator(dir)) {
      paths.push_back(entry.path());
    }
    for (const auto& path : paths) {
      const auto status = status_of(path);
      ASSERT_TRUE(status) << path;
      EXPECT_EQ(status->mode & 07777, 0775u) << path;
      EXPECT_EQ(status->uid, 0u) << path;
      EXPECT_EQ(status->gid, staff) << path;
    }
  }

  helper_tool_t helper;
  service_test::trace_capture_t trace{"/tmp/global_config.trace"};
  service_test::scratch_directory_t source;
};

TEST_F(GlobalConfig, TraceFileIsCreatedOnceAndAlwaysMadeWorldWritable) {
  helper._createGlobalTraceIfNeedFor("gt_new");
  EXPECT_EQ(test_support::read_text("/var/log/gt_new.trace"), "");
  EXPECT_EQ(status_of("/var/log/gt_new.trace")->mode & 07777, 0666u);
  EXPECT_THAT(trace.lines(), ElementsAre(is_line("info", "Creating global trace file..")));

  // Lines written since, and a mode changed since: the file is the service's own.
  test_support::write_text("/var/log/gt_new.trace", "earlier lines\n", 0600);
  ASSERT_EQ(::chmod("/var/log/gt_new.trace", 0600), 0);
  helper._createGlobalTraceIfNeedFor("gt_new");
  EXPECT_EQ(test_support::read_text("/var/log/gt_new.trace"), "earlier lines\n");
  EXPECT_EQ(status_of("/var/log/gt_new.trace")->mode & 07777, 0666u);
  EXPECT_EQ(trace.lines().size(), 1u);
}

// A namespace names a file in /var/log; only a trace file the service made for a namespace is
// opened to every user, never a link, another program's log or the helper's own trace.
TEST_F(GlobalConfig, TraceFileTheServiceDidNotCreateIsNeverOpenedToEveryone) {
  std::filesystem::create_symlink("/etc/shadow", "/var/log/gt_link.trace");
  test_support::write_text("/var/log/gt_other.trace", "another program's log\n", 0600);
  test_support::write_text("/var/log/velmora.trace", "the helper's own lines\n", 0644);
  const auto shadow = status_of("/etc/shadow");
  ASSERT_TRUE(shadow);

  for (const std::string vl_namespace : {"gt_link", "gt_other", "velmora"}) {
    helper._createGlobalTraceIfNeedFor(vl_namespace);
  }
  EXPECT_EQ(status_of("/etc/shadow")->mode, shadow->mode);
  EXPECT_TRUE(std::filesystem::is_symlink("/var/log/gt_link.trace"));
  EXPECT_EQ(status_of("/var/log/gt_other.trace")->mode & 07777, 0600u);
  EXPECT_EQ(test_support::read_text("/var/log/gt_other.trace"), "another program's log\n");
  EXPECT_EQ(status_of("/var/log/velmora.trace")->mode & 07777, 0644u);
  EXPECT_THAT(trace.lines(), ElementsAre(is_line("warning",
                                                 "Not a global trace file of Velmora: "
                                                 "/var/log/gt_link.trace. Left as it is."),
                                         is_line("warning",
                                                 "Not a global trace file of Velmora: "
                                                 "/var/log/gt_other.trace. Left as it is."),
                                         is_line("warning",
                                                 "Not a global trace file of Velmora: "
                                                 "/var/log/velmora.trace. Left as it is.")));
  std::filesystem::remove("/var/log/velmora.trace");
}

// Namespaces have no length limit, file names do.
TEST_F(GlobalConfig, TraceFileThatCannotBeCreatedIsReported) {
  const std::string long_namespace(300, 'n');
  helper._createGlobalTraceIfNeedFor(long_namespace);
  EXPECT_THAT(trace.lines(),
              ElementsAre(is_line("info", "Creating global trace file.."),
                          is_line("error", "Can't create /var/log/" + long_namespace + ".trace")));
}

TEST_F(GlobalConfig, CompleteSourceIsCopiedAndHandedToStaff) {
  helper._copyGlobalConfigFrom(user_config({"system.conf", "service.conf", "connection_trace.txt"}),
                               "gc_full");
  for (const char* name : {"system.conf", "service.conf", "connection_trace.txt"}) {
    EXPECT_EQ(test_support::read_text(std::string("/etc/gc_full/") + name),
              std::string("user ") + name);
  }
  expect_corrected("/etc/gc_full");
  EXPECT_THAT(trace.lines(), ElementsAre(creating, correcting));
}

TEST_F(GlobalConfig, MissingConnectionTraceIsNoFailure) {
  helper._copyGlobalConfigFrom(user_config({"system.conf", "service.conf"}), "gc_two");
  EXPECT_TRUE(helper._verifyDir("/etc/gc_two", {"system.conf", "service.conf"}));
  EXPECT_FALSE(helper._verifyDir("/etc/gc_two", {"system.conf", "connection_trace.txt"}));
  EXPECT_THAT(trace.lines(), ElementsAre(creating, correcting));
}

TEST_F(GlobalConfig, PartialDestinationKeepsWhatItHasAndGetsTheRest) {
  helper._copyGlobalConfigFrom(source.path() + "/missing", "gc_part");
  test_support::write_text("/etc/gc_part/system.conf", "global system", 0600);
  helper._copyGlobalConfigFrom(user_config({"system.conf", "service.conf", "connection_trace.txt"}),
                               "gc_part");
  EXPECT_EQ(test_support::read_text("/etc/gc_part/system.conf"), "global system");
  EXPECT_EQ(test_support::read_text("/etc/gc_part/service.conf"), "user service.conf");
  EXPECT_EQ(test_support::read_text("/etc/gc_part/connection_trace.txt"),
            "user connection_trace.txt");
  expect_corrected("/etc/gc_part");
}

TEST_F(GlobalConfig, CompleteDestinationOrIncompleteSourceCopiesNothingButFixesPermissions) {
  helper._copyGlobalConfigFrom(source.path() + "/missing", "gc_none");
  EXPECT_TRUE(std::filesystem::is_empty("/etc/gc_none"));
  expect_corrected("/etc/gc_none");

  test_support::write_text("/etc/gc_none/system.conf", "global system", 0600);
  test_support::write_text("/etc/gc_none/service.conf", "global service", 0600);
  helper._copyGlobalConfigFrom(user_config({"system.conf", "service.conf", "connection_trace.txt"}),
                               "gc_none");
  EXPECT_EQ(test_support::read_text("/etc/gc_none/service.conf"), "global service");
  EXPECT_FALSE(std::filesystem::exists("/etc/gc_none/connection_trace.txt"));
  expect_corrected("/etc/gc_none");
  EXPECT_THAT(
      trace.lines(),
      ElementsAre(creating, is_line("info", "local config incomplete. Skipping."), correcting,
                  creating, is_line("warning", "global config files already exists. Skipping."),
                  correcting));
}

// A namespace names an entry of /etc. One the service did not create, a system folder above
// all, is never filled, nor handed to "staff": bob, in staff, would plant his own trust anchor
// in /etc/codesign, or rewrite /etc/ssl/openssl.cnf.
TEST_F(GlobalConfig, EntryTheServiceDidNotCreateIsLeftAsItIs) {
  test_support::write_text("/etc/gc_blocked", "a file, not a folder", 0644);
  std::filesystem::create_symlink("/etc/ssl", "/etc/gc_link");
  const std::vector<std::string> paths{
      "/etc/codesign", "/etc/codesign/anchors", "/etc/codesign/anchors/velmora-test-root.pem",
      "/etc/ssl",      "/etc/ssl/openssl.cnf",  "/etc/gc_blocked"};
  std::vector<test_support::file_status_t> before;
  for (const auto& path : paths) {
    const auto status = status_of(path);
    ASSERT_TRUE(status) << path;
    before.push_back(*status);
  }

  const auto config = user_config({"system.conf", "service.conf", "connection_trace.txt"});
  std::vector<testing::Matcher<const test_support::trace_line_t&>> expected;
  for (const std::string vl_namespace : {"codesign", "ssl", "gc_blocked", "gc_link"}) {
    helper._copyGlobalConfigFrom(config, vl_namespace);
    expected.push_back(creating);
    expected.push_back(is_line("warning", "Not a global config folder of Velmora: /etc/" +
                                              vl_namespace + ". Left as it is."));
  }
  for (std::size_t i = 0; i < paths.size(); ++i) {
    const auto after = status_of(paths[i]);
    EXPECT_EQ(after->mode, before[i].mode) << paths[i];
    EXPECT_EQ(after->uid, before[i].uid) << paths[i];
    EXPECT_EQ(after->gid, before[i].gid) << paths[i];
  }
  for (const char* dir : {"/etc/codesign", "/etc/ssl"}) {
    EXPECT_FALSE(std::filesystem::exists(std::string(dir) + "/system.conf")) << dir;
  }
  EXPECT_EQ(test_support::read_text("/etc/gc_blocked"), "a file, not a folder");
  EXPECT_TRUE(std::filesystem::is_symlink("/etc/gc_link"));
  EXPECT_THAT(trace.lines(), ElementsAreArray(expected));
  std::filesystem::remove("/etc/gc_blocked");
  std::filesystem::remove("/etc/gc_link");
}

// The user controls the source: a link in it must stay a link, and the permission fix must not
// reach through it to a system file.
TEST_F(GlobalConfig, LinkInTheSourceStaysALinkAndItsTargetIsUntouched) {
  const auto before = status_of("/etc/shadow");
  ASSERT_TRUE(before);
  user_config({"service.conf"});
  std::filesystem::create_symlink("/etc/shadow", source.path() + "/system.conf");
  helper._copyGlobalConfigFrom(source.path(), "gc_link");
  EXPECT_TRUE(std::filesystem::is_symlink("/etc/gc_link/system.conf"));
  const auto after = status_of("/etc/shadow");
  EXPECT_EQ(after->mode, before->mode);
  EXPECT_EQ(after->uid, before->uid);
  EXPECT_EQ(after->gid, before->gid);
}

}  // namespace
