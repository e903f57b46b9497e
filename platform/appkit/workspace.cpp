#include "platform/appkit/workspace.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <optional>
#include <thread>
#include <vector>

#include "platform/foundation/property_list.h"

namespace platform::workspace {
namespace {

class spawn_attributes_t {
 public:
  spawn_attributes_t() {
    posix_spawnattr_init(&attributes_);
    // A new session: the application outlives us and must not share our terminal or signals.
    sigset_t none;
    sigset_t all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setsigmask(&attributes_, &none);
    posix_spawnattr_setsigdefault(&attributes_, &all);
    posix_spawnattr_setflags(&attributes_,
                             POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  }
  spawn_attributes_t(const spawn_attributes_t&) = delete;
  spawn_attributes_t& operator=(const spawn_attributes_t&) = delete;
  ~spawn_attributes_t() { posix_spawnattr_destroy(&attributes_); }

  const posix_spawnattr_t* get() const { return &attributes_; }

 private:
  posix_spawnattr_t attributes_;
};

class spawn_file_actions_t {
 public:
  spawn_file_actions_t() {
    posix_spawn_file_actions_init(&actions_);
    // Nothing of ours leaks into the application: no standard streams, no descriptor.
    for (const int fd : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
      posix_spawn_file_actions_addopen(&actions_, fd, "/dev/null", O_RDWR, 0);
    }
    posix_spawn_file_actions_addclosefrom_np(&actions_, STDERR_FILENO + 1);
    posix_spawn_file_actions_addchdir_np(&actions_, "/");
  }
  spawn_file_actions_t(const spawn_file_actions_t&) = delete;
  spawn_file_actions_t& operator=(const spawn_file_actions_t&) = delete;
  ~spawn_file_actions_t() { posix_spawn_file_actions_destroy(&actions_); }

  const posix_spawn_file_actions_t* get() const { return &actions_; }

 private:
  posix_spawn_file_actions_t actions_;
};

// The name under Contents/MacOS that the bundle's information list gives; nothing when the list
// is missing or names something outside that folder.
std::optional<std::string> bundleExecutable(const std::string& bundle_path) {
  const auto info = property_list::read_file(bundle_path + "/Contents/Info.plist");
  if (!info || plist_get_node_type(info.get()) != PLIST_DICT) return std::nullopt;
  const plist_t node = plist_dict_get_item(info.get(), "CFBundleExecutable");
  if (node == nullptr || plist_get_node_type(node) != PLIST_STRING) return std::nullopt;
  char* text = nullptr;
  plist_get_string_val(node, &text);
  if (text == nullptr) return std::nullopt;
  std::string name(text);
  std::free(text);
  if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos) {
    return std::nullopt;
  }
  return name;
}

// The application is not our child in spirit, but it is in fact: wait for it on a thread of its
// own so it never stays a zombie, whatever else the process is doing.
void reapWhenDone(pid_t pid) {
  std::thread([pid] {
    while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
    }
  }).detach();
}

}  // namespace

bool launchApplication(const std::string& bundle_path) {
  const auto name = bundleExecutable(bundle_path);
  if (!name) return false;
  const std::string executable = bundle_path + "/Contents/MacOS/" + *name;
  std::vector<char*> argv{const_cast<char*>(executable.c_str()), nullptr};

  const spawn_file_actions_t actions;
  const spawn_attributes_t attributes;
  pid_t pid = 0;
  if (posix_spawn(&pid, executable.c_str(), actions.get(), attributes.get(), argv.data(),
                  environ) != 0) {
    return false;
  }
  reapWhenDone(pid);
  return true;
}

}  // namespace platform::workspace
