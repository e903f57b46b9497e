#include "platform/appkit/workspace.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "tests/platform/foundation/file_trees.h"
#include "tests/support/files.h"
#include "tests/support/scratch_directory.h"

using test_support::read_text;
using test_support::scratch_directory_t;
using test_support::write_text;

namespace {

constexpr int kLeakedDescriptor = 57;

std::string infoPlist(const std::string& executable_entry) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>" +
         executable_entry + "</dict></plist>\n";
}

std::string executableEntry(const std::string& name) {
  return "<key>CFBundleExecutable</key><string>" + name + "</string>";
}

// The application records how it was started, then ends.
std::string reportingScript(const std::string& report) {
  return "#!/bin/sh\n"
         "{ echo \"pid=$$\"\n"
         "  echo \"sid=$(cut -d' ' -f6 /proc/$$/stat)\"\n"
         "  echo \"stdin=$(readlink /proc/$$/fd/0)\"\n"
         "  echo \"cwd=$(pwd)\"\n"
         "  [ -e /proc/$$/fd/57 ] && echo leaked\n"
         "} > '" +
         report + ".part'\nmv '" + report + ".part' '" + report + "'\n";
}

class Workspace : public ::testing::Test {
 protected:
  void makeBundle(const std::string& plist, const std::string& script, mode_t mode = 0755) {
    makeDir(bundle());
    makeDir(bundle() + "/Contents");
    makeDir(bundle() + "/Contents/MacOS");
    write_text(bundle() + "/Contents/Info.plist", plist);
    write_text(bundle() + "/Contents/MacOS/Velmora", script, mode);
  }
  std::string bundle() const { return dir_.path("Velmora.app"); }
  std::string report() const { return dir_.path("report"); }

  std::string waitForReport() const {
    for (int i = 0; i < 500; ++i) {
      std::string text = read_text(report());
      if (!text.empty()) return text;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return {};
  }

  scratch_directory_t dir_;
};

std::string valueOf(const std::string& report, const std::string& key) {
  const auto start = report.find(key + "=");
  if (start == std::string::npos) return {};
  const auto from = start + key.size() + 1;
  return report.substr(from, report.find('\n', from) - from);
}

bool isGone(pid_t pid) {
  // A zombie keeps its /proc entry until it is reaped.
  for (int i = 0; i < 500; ++i) {
    if (access(("/proc/" + std::to_string(pid)).c_str(), F_OK) != 0) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

TEST_F(Workspace, StartsTheBundleExecutableDetachedAndReapsIt) {
  makeBundle(infoPlist(executableEntry("Velmora")), reportingScript(report()));
  ASSERT_EQ(fcntl(STDERR_FILENO, F_DUPFD, kLeakedDescriptor), kLeakedDescriptor);

  const bool started = platform::workspace::launchApplication(bundle());
  close(kLeakedDescriptor);
  ASSERT_TRUE(started);

  const std::string text = waitForReport();
  ASSERT_FALSE(text.empty()) << "the application never ran";
  const pid_t pid = std::stoi(valueOf(text, "pid"));
  EXPECT_EQ(valueOf(text, "sid"), std::to_string(pid)) << "not in a session of its own";
  EXPECT_NE(getsid(0), pid);
  EXPECT_EQ(valueOf(text, "stdin"), "/dev/null");
  EXPECT_EQ(valueOf(text, "cwd"), "/");
  EXPECT_EQ(text.find("leaked"), std::string::npos) << "our descriptor reached the application";
  EXPECT_TRUE(isGone(pid)) << "the ended application stayed a zombie";
}

TEST_F(Workspace, RefusesBundlesWithoutAUsableExecutable) {
  EXPECT_FALSE(platform::workspace::launchApplication(bundle())) << "no bundle at all";

  const std::string script = reportingScript(report());
  for (const std::string& plist :
       {infoPlist(""), infoPlist(executableEntry("Missing")), infoPlist(executableEntry("")),
        infoPlist(executableEntry("../MacOS/Velmora")),
        infoPlist("<key>CFBundleExecutable</key><integer>1</integer>"),
        std::string("<plist><array><string>Velmora</string></array></plist>"),
        std::string("not a property list")}) {
    makeBundle(plist, script);
    EXPECT_FALSE(platform::workspace::launchApplication(bundle())) << plist;
    std::filesystem::remove_all(bundle());
  }

  makeBundle(infoPlist(executableEntry("Velmora")), script, 0644);
  EXPECT_FALSE(platform::workspace::launchApplication(bundle())) << "not executable";
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_TRUE(read_text(report()).empty()) << "something ran after all";
}

}  // namespace
