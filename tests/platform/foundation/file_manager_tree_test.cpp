#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <future>

#include "platform/foundation/file_manager.h"
#include "tests/platform/foundation/file_trees.h"
#include "tests/support/files.h"
#include "tests/support/scratch_directory.h"

namespace fm = platform::file_manager;
using test_support::mode_of;
using test_support::read_text;
using test_support::scratch_directory_t;
using test_support::write_text;
using ::testing::HasSubstr;

namespace {

// A small bundle with the shapes a real one has: nested folders, an executable, an empty
// folder, a relative link inside and a link pointing out of the tree.
void makeBundle(const scratch_directory_t& dir, const std::string& bundle) {
  makeDir(dir.path(bundle));
  makeDir(dir.path(bundle + "/Contents"));
  makeDir(dir.path(bundle + "/Contents/MacOS"), 0750);
  makeDir(dir.path(bundle + "/Contents/Empty"), 0700);
  write_text(dir.path(bundle + "/Contents/Info.plist"), "<plist/>", 0640);
  write_text(dir.path(bundle + "/Contents/MacOS/Velmora"), "#!/bin/sh\nexit 0\n", 0755);
  makeLink("MacOS/Velmora", dir.path(bundle + "/Contents/Current"));
  makeLink(dir.path("outside/secret"), dir.path(bundle + "/Contents/Secret"));
}

class FileManagerTree : public ::testing::Test {
 protected:
  void SetUp() override {
    makeDir(dir_.path("outside"), 0700);
    write_text(dir_.path("outside/secret"), "SECRET", 0600);
  }
  scratch_directory_t dir_;
};

TEST_F(FileManagerTree, CopyReproducesTreeContentsModesTimesAndLinks) {
  makeBundle(dir_, "Velmora.app");
  const timespec old_times[2] = {{1000000, 0}, {2000000, 0}};
  ASSERT_EQ(utimensat(AT_FDCWD, dir_.path("Velmora.app/Contents/Info.plist").c_str(), old_times, 0),
            0);
  const mode_t saved_umask = umask(077);  // the copy must not depend on the caller's umask
  std::string error;
  const bool copied = fm::copyItemAtPath(dir_.path("Velmora.app"), dir_.path("Copy.app"), &error);
  umask(saved_umask);
  ASSERT_TRUE(copied) << error;

  EXPECT_EQ(fm::enumeratorAtPath(dir_.path("Copy.app")),
            fm::enumeratorAtPath(dir_.path("Velmora.app")));
  for (const auto& relative : fm::enumeratorAtPath(dir_.path("Velmora.app"))) {
    const std::string from = dir_.path("Velmora.app/" + relative);
    const std::string to = dir_.path("Copy.app/" + relative);
    EXPECT_EQ(mode_of(to), mode_of(from)) << relative;
    if (S_ISREG(mode_of(from))) {
      EXPECT_EQ(read_text(to), read_text(from)) << relative;
    }
    if (S_ISLNK(mode_of(from))) {
      EXPECT_EQ(linkTarget(to), linkTarget(from)) << relative;
    }
  }
  EXPECT_EQ(mode_of(dir_.path("Copy.app")) & 07777, 0755u);

  struct stat info {};
  ASSERT_EQ(stat(dir_.path("Copy.app/Contents/Info.plist").c_str(), &info), 0);
  EXPECT_EQ(info.st_mtim.tv_sec, 2000000);
  // The link that points out of the tree was copied as a link, not as the secret's bytes.
  EXPECT_TRUE(S_ISLNK(mode_of(dir_.path("Copy.app/Contents/Secret"))));
  EXPECT_EQ(mode_of(dir_.path("outside/secret")) & 07777, 0600u);
}

TEST_F(FileManagerTree, CopyIntoItsOwnSourceDoesNotCopyItself) {
  makeBundle(dir_, "Velmora.app");
  ASSERT_TRUE(
      fm::copyItemAtPath(dir_.path("Velmora.app"), dir_.path("Velmora.app/Backup.app"), nullptr));
  EXPECT_EQ(fm::enumeratorAtPath(dir_.path("Velmora.app/Backup.app")),
            (std::vector<std::string>{"Contents", "Contents/Current", "Contents/Empty",
                                      "Contents/Info.plist", "Contents/MacOS",
                                      "Contents/MacOS/Velmora", "Contents/Secret"}));
}

TEST_F(FileManagerTree, CopyDropsSetuidSetgidAndWriteForOthers) {
  makeDir(dir_.path("Velmora.app"), 02777);
  write_text(dir_.path("Velmora.app/tool"), "x", 06777);
  write_text(dir_.path("Velmora.app/data"), "x", 0664);
  ASSERT_EQ(mode_of(dir_.path("Velmora.app/tool")) & 07777, 06777u);  // the test's premise
  ASSERT_EQ(mode_of(dir_.path("Velmora.app")) & 07777, 02777u);

  ASSERT_TRUE(fm::copyItemAtPath(dir_.path("Velmora.app"), dir_.path("Copy.app"), nullptr));
  EXPECT_EQ(mode_of(dir_.path("Copy.app/tool")) & 07777, 0755u);
  EXPECT_EQ(mode_of(dir_.path("Copy.app/data")) & 07777, 0644u);
  EXPECT_EQ(mode_of(dir_.path("Copy.app")) & 07777, 0755u);
}

TEST_F(FileManagerTree, ReplacementIsPreparedBesideAndSwappedInWhole) {
  makeBundle(dir_, "Velmora.app");
  const auto folder = fm::itemReplacementDirectoryFor(dir_.path("Velmora.app"), nullptr);
  ASSERT_TRUE(folder);
  EXPECT_EQ(folder->rfind(dir_.path(".Velmora.app."), 0), 0u) << *folder;
  EXPECT_EQ(mode_of(*folder) & 07777, 0700u);

  const std::string staged = *folder + "/Velmora.app";
  makeDir(staged);
  write_text(staged + "/new", "new");
  ASSERT_TRUE(fm::replaceItemAtPath(dir_.path("Velmora.app"), staged, nullptr));
  EXPECT_EQ(read_text(dir_.path("Velmora.app/new")), "new");
  EXPECT_EQ(read_text(staged + "/Contents/Info.plist"), "<plist/>") << "the original is kept";

  // Without an original the replacement just moves there.
  std::string error;
  EXPECT_TRUE(fm::replaceItemAtPath(dir_.path("Fresh.app"), staged, &error)) << error;
  EXPECT_EQ(read_text(dir_.path("Fresh.app/Contents/Info.plist")), "<plist/>");
  EXPECT_FALSE(fm::replaceItemAtPath(dir_.path("Other.app"), staged, &error));
  EXPECT_THAT(error, HasSubstr("No such file or directory"));
}

TEST_F(FileManagerTree, CopyRefusesAnExistingDestinationAndLeavesItAlone) {
  makeBundle(dir_, "Velmora.app");
  makeDir(dir_.path("Applications"));
  makeDir(dir_.path("Applications/Velmora.app"));
  write_text(dir_.path("Applications/Velmora.app/keep"), "old");
  makeLink(dir_.path("nowhere"), dir_.path("Applications/Dangling.app"));

  std::string error;
  EXPECT_FALSE(
      fm::copyItemAtPath(dir_.path("Velmora.app"), dir_.path("Applications/Velmora.app"), &error));
  EXPECT_EQ(error,
            "\u201cVelmora.app\u201d couldn\u2019t be copied because an item with the same name "
            "already exists.");
  EXPECT_EQ(read_text(dir_.path("Applications/Velmora.app/keep")), "old");
  EXPECT_EQ(fm::enumeratorAtPath(dir_.path("Applications/Velmora.app")),
            std::vector<std::string>{"keep"});

  // A dangling link is an existing item too; writing through it would create its target.
  EXPECT_FALSE(
      fm::copyItemAtPath(dir_.path("Velmora.app"), dir_.path("Applications/Dangling.app"), &error));
  EXPECT_EQ(access(dir_.path("nowhere").c_str(), F_OK), -1);
  EXPECT_EQ(linkTarget(dir_.path("Applications/Dangling.app")), dir_.path("nowhere"));
}

TEST_F(FileManagerTree, CopyFailuresNameTheCauseAndLeaveNoPartialTree) {
  std::string error;
  EXPECT_FALSE(fm::copyItemAtPath(dir_.path("Missing.app"), dir_.path("Copy.app"), &error));
  EXPECT_THAT(error, HasSubstr("\u201cMissing.app\u201d couldn\u2019t be copied"));
  EXPECT_THAT(error, HasSubstr("No such file or directory"));
  EXPECT_THAT(error, HasSubstr(dir_.path("Missing.app")));
  EXPECT_EQ(access(dir_.path("Copy.app").c_str(), F_OK), -1);

  EXPECT_FALSE(fm::copyItemAtPath(dir_.path("outside/secret"), dir_.path("none/x"), &error));
  EXPECT_THAT(error, HasSubstr("No such file or directory"));

  // A pipe would block a reader forever; the copy must give up at once instead.
  makeBundle(dir_, "Velmora.app");
  ASSERT_EQ(mkfifo(dir_.path("Velmora.app/Contents/zz-pipe").c_str(), 0644), 0);
  auto attempt = std::async(std::launch::async, [&] {
    return fm::copyItemAtPath(dir_.path("Velmora.app"), dir_.path("Copy.app"), &error);
  });
  ASSERT_EQ(attempt.wait_for(std::chrono::seconds(10)), std::future_status::ready);
  EXPECT_FALSE(attempt.get());
  EXPECT_THAT(error, HasSubstr("zz-pipe"));
  EXPECT_EQ(access(dir_.path("Copy.app").c_str(), F_OK), -1) << "partial copy left behind";
}

TEST_F(FileManagerTree, CopyOfALinkMakesALink) {
  makeLink("/etc", dir_.path("Velmora.app"));
  ASSERT_TRUE(fm::copyItemAtPath(dir_.path("Velmora.app"), dir_.path("Copy.app"), nullptr));
  EXPECT_TRUE(S_ISLNK(mode_of(dir_.path("Copy.app"))));
  EXPECT_EQ(linkTarget(dir_.path("Copy.app")), "/etc");
}

TEST_F(FileManagerTree, RemoveDeletesWholeTreeEvenWithoutWriteBits) {
  makeBundle(dir_, "Velmora.app");
  ASSERT_EQ(chmod(dir_.path("Velmora.app/Contents/MacOS").c_str(), 0500), 0);
  std::string error;
  ASSERT_TRUE(fm::removeItemAtPath(dir_.path("Velmora.app") + "/", &error)) << error;
  EXPECT_EQ(access(dir_.path("Velmora.app").c_str(), F_OK), -1);
  EXPECT_EQ(read_text(dir_.path("outside/secret")), "SECRET");
}

TEST_F(FileManagerTree, RemoveNeverFollowsLinks) {
  write_text(dir_.path("outside/other"), "x");
  makeLink(dir_.path("outside"), dir_.path("Velmora.app"));
  ASSERT_TRUE(fm::removeItemAtPath(dir_.path("Velmora.app"), nullptr));
  EXPECT_EQ(access(dir_.path("Velmora.app").c_str(), F_OK), -1);

  makeDir(dir_.path("tree"));
  makeLink(dir_.path("outside"), dir_.path("tree/into-outside"));
  ASSERT_TRUE(fm::removeItemAtPath(dir_.path("tree"), nullptr));

  EXPECT_EQ(fm::enumeratorAtPath(dir_.path("outside")),
            (std::vector<std::string>{"other", "secret"}));
}

TEST_F(FileManagerTree, RemoveReportsWhatFailed) {
  std::string error;
  EXPECT_FALSE(fm::removeItemAtPath(dir_.path("Gone.app"), &error));
  EXPECT_THAT(error, HasSubstr("\u201cGone.app\u201d couldn\u2019t be removed"));
  EXPECT_THAT(error, HasSubstr("No such file or directory"));

  makeDir(dir_.path("x"));
  for (const std::string& refused : {std::string(), dir_.path("."), dir_.path("x/..")}) {
    EXPECT_FALSE(fm::removeItemAtPath(refused, &error)) << refused;
    EXPECT_THAT(error, HasSubstr("Invalid argument")) << refused;
  }
  EXPECT_EQ(read_text(dir_.path("outside/secret")), "SECRET");
}

TEST_F(FileManagerTree, EnumerationIsDeepSortedRelativeAndStaysOutOfLinkedFolders) {
  makeBundle(dir_, "Velmora.app");
  makeLink(dir_.path("outside"), dir_.path("Velmora.app/Contents/Outside"));
  const std::vector<std::string> expected{
      "Contents",       "Contents/Current",       "Contents/Empty",   "Contents/Info.plist",
      "Contents/MacOS", "Contents/MacOS/Velmora", "Contents/Outside", "Contents/Secret"};
  EXPECT_EQ(fm::enumeratorAtPath(dir_.path("Velmora.app")), expected);

  // The starting folder itself may be reached through a link.
  makeLink(dir_.path("Velmora.app"), dir_.path("Alias.app"));
  EXPECT_EQ(fm::enumeratorAtPath(dir_.path("Alias.app")), expected);

  EXPECT_TRUE(fm::enumeratorAtPath(dir_.path("Missing")).empty());
  EXPECT_TRUE(fm::enumeratorAtPath(dir_.path("outside/secret")).empty());
}

}  // namespace
