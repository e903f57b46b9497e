#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/foundation/file_manager.h"
#include "tests/support/files.h"
#include "tests/support/scratch_directory.h"

using test_support::mode_of;
using test_support::read_text;
using test_support::scratch_directory_t;
using test_support::write_text;

namespace {

namespace file_manager = platform::file_manager;

TEST(FileExists, FollowsLinks) {
  scratch_directory_t scratch;
  write_text(scratch.path("file"), "x");
  ASSERT_EQ(::symlink(scratch.path("file").c_str(), scratch.path("good").c_str()), 0);
  ASSERT_EQ(::symlink(scratch.path("none").c_str(), scratch.path("dangling").c_str()), 0);

  EXPECT_TRUE(file_manager::fileExistsAtPath(scratch.path("file")));
  EXPECT_TRUE(file_manager::fileExistsAtPath(scratch.path("good")));
  EXPECT_TRUE(file_manager::fileExistsAtPath(scratch.root()));
  EXPECT_FALSE(file_manager::fileExistsAtPath(scratch.path("dangling")));
  EXPECT_FALSE(file_manager::fileExistsAtPath(scratch.path("none")));
  EXPECT_FALSE(file_manager::fileExistsAtPath(""));
}

TEST(CreateFile, MakesAnEmptyFileOrEmptiesAnExistingOne) {
  scratch_directory_t scratch;
  const mode_t old_mask = ::umask(022);
  EXPECT_TRUE(file_manager::createFileAtPath(scratch.path("new")));
  ::umask(old_mask);
  EXPECT_EQ(mode_of(scratch.path("new")), S_IFREG | 0644);
  EXPECT_EQ(read_text(scratch.path("new")), "");

  write_text(scratch.path("old"), "contents", 0600);
  EXPECT_TRUE(file_manager::createFileAtPath(scratch.path("old")));
  EXPECT_EQ(read_text(scratch.path("old")), "");

  EXPECT_FALSE(file_manager::createFileAtPath(scratch.path("missing/file")));
}

TEST(CreateDirectory, WithAndWithoutIntermediates) {
  scratch_directory_t scratch;
  std::string error;
  EXPECT_FALSE(file_manager::createDirectoryAtPath(scratch.path("a/b/c"), false, &error));
  EXPECT_NE(error.find(scratch.path("a/b/c")), std::string::npos) << error;

  EXPECT_TRUE(file_manager::createDirectoryAtPath(scratch.path("a//b/c/"), true, &error));
  EXPECT_TRUE(S_ISDIR(mode_of(scratch.path("a/b/c"))));
  // An existing directory is success either way.
  EXPECT_TRUE(file_manager::createDirectoryAtPath(scratch.path("a/b/c"), true, nullptr));
  EXPECT_TRUE(file_manager::createDirectoryAtPath(scratch.path("a/b"), false, nullptr));

  write_text(scratch.path("file"), "x");
  error.clear();
  EXPECT_FALSE(file_manager::createDirectoryAtPath(scratch.path("file"), false, &error));
  EXPECT_FALSE(error.empty());
  EXPECT_FALSE(file_manager::createDirectoryAtPath(scratch.path("file/sub"), true, &error));
}

TEST(Contents, WholeRegularFilesOnly) {
  scratch_directory_t scratch;
  std::string big(200000, '\0');
  for (std::size_t i = 0; i < big.size(); ++i)
    big[i] = static_cast<char>(i * 7);
  write_text(scratch.path("big"), big);

  const auto contents = file_manager::contentsAtPath(scratch.path("big"));
  ASSERT_TRUE(contents.has_value());
  EXPECT_EQ(std::string(contents->begin(), contents->end()), big);

  write_text(scratch.path("empty"), "");
  EXPECT_EQ(file_manager::contentsAtPath(scratch.path("empty")), std::vector<std::uint8_t>());
  EXPECT_EQ(file_manager::contentsAtPath(scratch.path("missing")), std::nullopt);
  EXPECT_EQ(file_manager::contentsAtPath(scratch.root()), std::nullopt);
}

TEST(PathComponents, AppendAndLastComponentLikeThePlatform) {
  const std::vector<std::tuple<std::string, std::string, std::string>> appended = {
      {"a", "b", "a/b"},    {"/a/", "b", "/a/b"},
      {"/", "b", "/b"},     {"", "b", "b"},
      {"/a", "", "/a"},     {"/a//b/", "c/", "/a/b/c"},
      {"/a", "/b", "/a/b"}, {"/Applications", "Velmora.app", "/Applications/Velmora.app"},
  };
  for (const auto& [path, component, expected] : appended) {
    EXPECT_EQ(file_manager::stringByAppendingPathComponent(path, component), expected)
        << path << " + " << component;
  }

  const std::vector<std::pair<std::string, std::string>> last = {
      {"/a/b.app/", "b.app"},
      {"/tmp/scratch", "scratch"},
      {"scratch///", "scratch"},
      {"/", "/"},
      {"", ""},
      {"plain", "plain"},
  };
  for (const auto& [path, expected] : last) {
    EXPECT_EQ(file_manager::lastPathComponent(path), expected) << path;
  }
}

}  // namespace
