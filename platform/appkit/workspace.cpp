#include "platform/appkit/workspace.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <optional>
#include <thread>
#include <vector>

#include "platform/base/spawn.h"
#include "platform/foundation/property_list.h"

namespace platform::workspace {
namespace {

// The name under Contents/MacOS that the bundle's information list gives; nothing when the list
// is missing or names something outside that folder.
std::optional<std::string> bundleExecutable(const std::string& bundle_path) {
  const auto info = property_list::read_file(bundle_path + "/Contents/Info.plist");
  if (!info || plist_get_node_type(info.get()) != PLIST_DICT) return std::nullopt;
  auto name = property_list::string_value(plist_dict_get_item(info.get(), "CFBundleExecutable"));
  if (!name || name->empty() || *name == "." || *name == ".." ||
      name->find('/') != std::string::npos || name->find('\0') != std::string::npos) {
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

  spawn_file_actions_t actions;
  actions.detach_from_parent();
  // A new session: the application outlives us and must not share our terminal or signals.
  const spawn_attributes_t attributes(spawn_attributes_t::session_t::new_session);
  pid_t pid = 0;
  if (posix_spawn(&pid, executable.c_str(), actions.get(), attributes.get(), argv.data(),
                  environ) != 0) {
    return false;
  }
  reapWhenDone(pid);
  return true;
}

}  // namespace platform::workspace
