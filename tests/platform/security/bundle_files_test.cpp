// The files of a client's bundle are the client's to make: a FIFO, a link to a device, a huge
// sparse file. Each is refused at once, without waiting and without reading it whole.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <thread>

#include "platform/security/bundle.h"
#include "platform/security/file_bytes.h"
#include "tests/platform/security/signed_bundle_fixture.h"

namespace codesign_fixtures {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

#if defined(VELMORA_SANITIZER)
constexpr bool sanitizer = true;
#else
constexpr bool sanitizer = false;
#endif

// Runs body in a child whose address space is capped (the sanitizer reserves more than any
// cap, so not under it) and which is killed after limit: a check that waits or reads without
// end fails here instead of stalling or exhausting the test. The child's exit status, or
// nothing when it was killed or crashed.
std::optional<int> exit_status_in_bounded_child(const std::function<int()>& body,
                                                std::chrono::milliseconds limit = 3s) {
  const pid_t pid = ::fork();
  if (pid < 0) return std::nullopt;
  if (pid == 0) {
    const rlimit address_space{rlim_t{1} << 30, rlim_t{1} << 30};
    if (!sanitizer) ::setrlimit(RLIMIT_AS, &address_space);
    ::_exit(body());
  }
  int status = 0;
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (::waitpid(pid, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, &status, 0);
      return std::nullopt;
    }
    std::this_thread::sleep_for(10ms);
  }
  return WIFEXITED(status) ? std::optional<int>(WEXITSTATUS(status)) : std::nullopt;
}

void make_fifo(const fs::path& path) {
  fs::remove(path);
  ASSERT_EQ(::mkfifo(path.c_str(), 0644), 0);
}

void link_to(const fs::path& path, const fs::path& target) {
  fs::remove(path);
  fs::create_symlink(target, path);
}

// A regular file of 64 GiB that takes no room on disk.
void make_huge(const fs::path& path) {
  fs::remove(path);
  std::ofstream(path).put('<');
  fs::resize_file(path, std::uintmax_t{64} << 30);
}

using BundleFilesTest = signed_bundle_test_t;

TEST_F(BundleFilesTest, FifosLinksAndHugeFilesAreRefusedAtOnce) {
  ASSERT_TRUE(sign_bundle(bundle_, chain_));
  const fs::path info = platform::info_plist_path(bundle_);
  const fs::path signature = platform::signature_path(bundle_);
  const fs::path executable = main_executable(bundle_);
  const auto checked = [&] {
    return exit_status_in_bounded_child(
        [&] { return check_on_disk(&client_requirement_).status == platform::errSecSuccess; });
  };
  ASSERT_EQ(checked(), 1) << "the bundle as signed passes";

  const fs::path kept = scratch_.path("kept");
  fs::create_directories(kept);
  for (const fs::path& file : {info, signature, executable})
    fs::copy_file(file, kept / file.filename());
  const struct {
    const char* name;
    fs::path file;
    std::function<void(const fs::path&)> make;
  } cases[] = {
      {"Info.plist a FIFO", info, make_fifo},
      {"Info.plist a link to /dev/zero", info, [](const fs::path& p) { link_to(p, "/dev/zero"); }},
      {"Info.plist a link to its own bytes", info,
       [&](const fs::path& p) { link_to(p, kept / "Info.plist"); }},
      {"Info.plist of 64 GiB", info, make_huge},
      {"signature a FIFO", signature, make_fifo},
      {"signature a link to /dev/zero", signature,
       [](const fs::path& p) { link_to(p, "/dev/zero"); }},
      {"signature of 64 GiB", signature, make_huge},
      {"executable a FIFO", executable, make_fifo},
  };
  for (const auto& item : cases) {
    SCOPED_TRACE(item.name);
    item.make(item.file);
    EXPECT_EQ(checked(), 0) << "refused, neither waiting nor reading without end";
    fs::remove(item.file);
    fs::copy_file(kept / item.file.filename(), item.file);
  }
  EXPECT_EQ(checked(), 1) << "the restored bundle passes again";
}

// The listener looks up a connecting client's bundle before anything else.
TEST_F(BundleFilesTest, LookupOfTheBundleDoesNotWaitOnItsInfoPlist) {
  const fs::path executable = main_executable(bundle_);
  ASSERT_TRUE(platform::bundle_of_main_executable(executable));
  make_fifo(platform::info_plist_path(bundle_));
  EXPECT_EQ(exit_status_in_bounded_child(
                [&] { return platform::bundle_of_main_executable(executable) ? 1 : 0; }),
            0);
}

TEST(ReadBundleFile, RegularFilesUpToTheLimitOnly) {
  const scratch_directory_t scratch;
  const fs::path file = scratch.path("file");
  std::ofstream(file) << std::string(100, 'x');
  EXPECT_EQ(platform::read_bundle_file(file, 100), std::string(100, 'x'));
  EXPECT_EQ(platform::read_bundle_file(file, 99), std::nullopt);
  EXPECT_EQ(platform::read_bundle_file(scratch.path(), 100), std::nullopt) << "a directory";
  EXPECT_EQ(platform::read_bundle_file(scratch.path("missing"), 100), std::nullopt);
  EXPECT_EQ(platform::max_bundle_file_size, 1024u * 1024u);
}

}  // namespace
}  // namespace codesign_fixtures
