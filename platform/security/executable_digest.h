#pragma once

#include <cstddef>
#include <optional>

#include "platform/security/digest.h"

namespace platform {

// The SHA-256 of the file a process runs, read through fd. Remembered by the file's identity
// once its change time has settled (file_identity.h), so that a returning client is not read
// again; any write since then has given the file another identity.
std::optional<sha256_t> sha256_of_executable(int fd);

// How many digests were answered from memory so far.
std::size_t executable_digests_reused();

}  // namespace platform
