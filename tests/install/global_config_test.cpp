// The global trace and configuration of a namespace, in the throwaway root's /var/log and /etc.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "service/helper_tool.h"
#include "tests/sandbox/support.h"
#include "tests/support/service_test_support.h"

using service_test::status_of;
using service_test::trace_line_t;
using testing::ElementsAre;
using testing::IsEmpty;

namespace {

constexpr unsigned staff = 20;
constexpr uid_t alice = 1001;
const trace_line_t creating{"info", "Creating global config.."};
const trace_line_t correcting{"info", "Correcting permissions.."};

class GlobalConfig : public testing::Test {
 protected:
  // A user's configuration folder holding the given files, owned by alice with mode 600.
  std::string user_config(const std::vector<std::string>& names) {
    for (const auto& name : names) {
      const auto path = source.add_file(name, "user " + name);
      EXPECT_EQ(::chown(path.c_str(), alice, alice), 0);
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
      EXPECT_EQ(status->mode, 0775u) << path;
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
  EXPECT_EQ(sandbox::read_file("/var/log/gt_new.trace"), "");
  EXPECT_EQ(status_of("/var/log/gt_new.trace")->mode, 0666u);
  EXPECT_THAT(trace.lines(), ElementsAre(trace_line_t{"info", "Creating global trace file.."}));

  sandbox::write_file("/var/log/gt_old.trace", "earlier lines\n", 0600);
  helper._createGlobalTraceIfNeedFor("gt_old");
  EXPECT_EQ(sandbox::read_file("/var/log/gt_old.trace"), "earlier lines\n");
  EXPECT_EQ(status_of("/var/log/gt_old.trace")->mode, 0666u);
  EXPECT_EQ(trace.lines().size(), 1u);
}

// Namespaces have no length limit, file names do.
TEST_F(GlobalConfig, TraceFileThatCannotBeCreatedIsReported) {
  const std::string long_namespace(300, 'n');
  helper._createGlobalTraceIfNeedFor(long_namespace);
  EXPECT_THAT(trace.lines(), ElementsAre(trace_line_t{"info", "Creating global trace file.."},
                                         trace_line_t{"error", "Can't create /var/log/" +
                                                                   long_namespace + ".trace"}));
}

TEST_F(GlobalConfig, CompleteSourceIsCopiedAndHandedToStaff) {
  helper._copyGlobalConfigFrom(user_config({"system.conf", "service.conf", "connection_trace.txt"}),
                               "gc_full");
  for (const char* name : {"system.conf", "service.conf", "connection_trace.txt"}) {
    EXPECT_EQ(sandbox::read_file(std::string("/etc/gc_full/") + name), std::string("user ") + name);
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
  std::filesystem::create_directory("/etc/gc_part");
  sandbox::write_file("/etc/gc_part/system.conf", "global system", 0600);
  helper._copyGlobalConfigFrom(user_config({"system.conf", "service.conf", "connection_trace.txt"}),
                               "gc_part");
  EXPECT_EQ(sandbox::read_file("/etc/gc_part/system.conf"), "global system");
  EXPECT_EQ(sandbox::read_file("/etc/gc_part/service.conf"), "user service.conf");
  EXPECT_EQ(sandbox::read_file("/etc/gc_part/connection_trace.txt"), "user connection_trace.txt");
  expect_corrected("/etc/gc_part");
}

TEST_F(GlobalConfig, CompleteDestinationOrIncompleteSourceCopiesNothingButFixesPermissions) {
  std::filesystem::create_directory("/etc/gc_done");
  sandbox::write_file("/etc/gc_done/system.conf", "global system", 0600);
  sandbox::write_file("/etc/gc_done/service.conf", "global service", 0600);
  helper._copyGlobalConfigFrom(user_config({"system.conf", "service.conf", "connection_trace.txt"}),
                               "gc_done");
  EXPECT_EQ(sandbox::read_file("/etc/gc_done/service.conf"), "global service");
  EXPECT_FALSE(std::filesystem::exists("/etc/gc_done/connection_trace.txt"));
  expect_corrected("/etc/gc_done");

  helper._copyGlobalConfigFrom(source.path() + "/missing", "gc_none");
  EXPECT_TRUE(std::filesystem::is_empty("/etc/gc_none"));
  expect_corrected("/etc/gc_none");
  EXPECT_THAT(trace.lines(),
              ElementsAre(creating,
                          trace_line_t{"warning", "global config files already exists. Skipping."},
                          correcting, creating,
                          trace_line_t{"info", "local config incomplete. Skipping."}, correcting));
}

TEST_F(GlobalConfig, FolderThatCannotBeCreatedIsReportedAndTheFlowGoesOn) {
  sandbox::write_file("/etc/gc_blocked", "a file, not a folder", 0644);
  helper._copyGlobalConfigFrom(user_config({"system.conf", "service.conf"}), "gc_blocked");
  EXPECT_EQ(sandbox::read_file("/etc/gc_blocked"), "a file, not a folder");
  EXPECT_THAT(
      trace.lines(),
      ElementsAre(creating, trace_line_t{"error", "Can't create /etc/gc_blocked"}, correcting));
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
