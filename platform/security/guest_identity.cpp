#include "platform/security/guest_identity.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/security/code_mappings.h"
#include "platform/security/guest_process.h"

namespace platform {

std::optional<guest_identity_t> guest_identity_t::of(const guest_code_t& guest) {
  guest_identity_t identity;
  identity.proc_directory_.reset(::fcntl(guest.proc_directory.get(), F_DUPFD_CLOEXEC, 0));
  if (!identity.proc_directory_) return std::nullopt;
  identity.memory_.reset(::openat(identity.proc_directory_.get(), "mem", O_RDONLY | O_CLOEXEC));
  const std::optional<unsigned long> address =
      first_readable_address(identity.proc_directory_.get());
  struct stat executable {};
  if (!identity.memory_ || !address || ::fstat(guest.executable.get(), &executable) != 0) {
    return std::nullopt;
  }
  identity.readable_address_ = *address;
  identity.executable_device_ = executable.st_dev;
  identity.executable_inode_ = executable.st_ino;
  return identity;
}

std::optional<std::string> guest_identity_t::change() const {
  char byte = 0;
  struct stat executable {};
  if (::pread(memory_.get(), &byte, 1, static_cast<off_t>(readable_address_)) != 1 ||
      ::fstatat(proc_directory_.get(), "exe", &executable, 0) != 0 ||
      executable.st_dev != executable_device_ || executable.st_ino != executable_inode_) {
    return "the client executed another program";
  }
  if (is_dumpable(proc_directory_.get())) return "the client became dumpable";
  return std::nullopt;
}

}  // namespace platform
