#include <gtest/gtest.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <string>
#include <thread>

#include "platform/foundation/file_manager.h"
#include "tests/file_manager/scratch_dir.h"

namespace fm = platform::file_manager;

namespace {

constexpr int kCopies = 200;

// Everything below a copied tree, with whatever each file holds; links are not followed.
bool treeHolds(const std::string& root, const std::string& needle) {
  for (const auto& relative : fm::enumeratorAtPath(root)) {
    const std::string path = root + "/" + relative;
    if (S_ISREG(modeOf(path)) && readFile(path).find(needle) != std::string::npos) return true;
  }
  return false;
}

// While the copies run, a user swaps a folder of the source for a link to a folder that only
// root may read, again and again.
TEST(FileManagerRace, SwappingASourceFolderForALinkNeverLeaksOrTouchesTheLinkedFolder) {
  scratch_dir_t dir;
  makeDir(dir.path("private"), 0700);
  writeFile(dir.path("private/shadow"), "SECRET", 0600);
  makeDir(dir.path("Velmora.app"));
  makeDir(dir.path("Velmora.app/Contents"));
  makeDir(dir.path("Velmora.app/Contents/Resources"));
  for (int i = 0; i < 8; ++i) {
    writeFile(dir.path("Velmora.app/Contents/Resources/file" + std::to_string(i)), "data");
  }
  makeDir(dir.path("out"));

  const std::string folder = dir.path("Velmora.app/Contents/Resources");
  const std::string aside = dir.path("Velmora.app/Contents/Resources.real");
  std::atomic<bool> stop{false};
  std::atomic<int> swaps{0};
  std::thread swapper([&] {
    while (!stop.load()) {
      if (rename(folder.c_str(), aside.c_str()) != 0) continue;
      const bool linked = symlink(dir.path("private").c_str(), folder.c_str()) == 0;
      std::this_thread::yield();
      if (linked) unlink(folder.c_str());
      rename(aside.c_str(), folder.c_str());
      ++swaps;
    }
  });

  int copied = 0;
  for (int i = 0; i < kCopies; ++i) {
    const std::string destination = dir.path("out/" + std::to_string(i) + ".app");
    if (fm::copyItemAtPath(dir.path("Velmora.app"), destination, nullptr)) ++copied;
    EXPECT_FALSE(treeHolds(destination, "SECRET")) << destination;
  }
  stop = true;
  swapper.join();

  EXPECT_GT(swaps.load(), 0);
  EXPECT_GT(copied, 0) << "no copy ever got through";
  EXPECT_EQ(modeOf(dir.path("private")) & 07777, 0700u);
  EXPECT_EQ(modeOf(dir.path("private/shadow")) & 07777, 0600u);
  EXPECT_EQ(fm::enumeratorAtPath(dir.path("private")), std::vector<std::string>{"shadow"});
  EXPECT_EQ(readFile(dir.path("private/shadow")), "SECRET");
}

}  // namespace
