#pragma once

#include <sys/resource.h>

// The service process's own limit on open files (RLIMIT_NOFILE), read through a replaceable
// reader so that every kind of limit, and a failing read, can be tried out.
namespace platform::open_files_limit {

// getrlimit-shaped: 0 with the limits filled in, or -1 with errno set.
using reader_t = int (*)(rlimit* limit);

// The platform's value for "no limit". Linux spells it (rlim_t)-1; other systems use 2^63 - 1.
inline constexpr rlim_t unlimited = RLIM_INFINITY;

int read(rlimit* limit);

// Raises the process's soft limit to its hard limit, so that many clients at once do not run it
// out of descriptors. read keeps reporting the limits the process was started with: they are the
// system's configuration, which the service judges, not its own choice. False when the limit
// could not be read or set.
bool raise_soft_limit_to_hard();

// Puts reader in place of getrlimit; nullptr puts getrlimit back.
void use_reader(reader_t reader);

}  // namespace platform::open_files_limit
