#pragma once

#include <sys/types.h>

#include <optional>
#include <string>

#include "platform/base/unique_fd.h"
#include "platform/security/code_signing.h"

namespace platform {

// What makes a validated client the same client later on, checked again for each of its
// messages: the platform's per-message audit token. The process still runs the executable that
// was validated, in the address space it had then (an exec, even of the same program, gives a
// new one), and is still non-dumpable.
class guest_identity_t {
 public:
  // Taken before the guest is checked, so that an exec during the check is noticed too.
  static std::optional<guest_identity_t> of(const guest_code_t& guest);

  // Empty while the process is the one that was taken; otherwise what changed.
  std::optional<std::string> change() const;

 private:
  guest_identity_t() = default;

  unique_fd_t proc_directory_;
  // /proc/<pid>/mem holds the address space it was opened for; reads through it end once the
  // process has executed another program or exited.
  unique_fd_t memory_;
  unsigned long readable_address_ = 0;
  dev_t executable_device_ = 0;
  ino_t executable_inode_ = 0;
};

}  // namespace platform
