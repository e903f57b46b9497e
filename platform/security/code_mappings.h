#pragma once

#include <optional>
#include <string>

// The executable memory of a running process, read from /proc/<pid>/maps through its /proc
// directory: what the hardened runtime's "no unsigned executable memory" asks of a client.
namespace platform {

// Empty when every executable mapping is the validated main executable (executable is a
// descriptor of it), a regular file owned by root that no one else may write, or the kernel's
// own ([vdso], [vsyscall]). Otherwise a description of the first other one: a library a user
// could have written, anonymous executable memory, or a mapping that cannot be examined.
std::optional<std::string> foreign_code_mapping(int proc_directory, int executable);

// The start of the process's first readable mapping, or nothing.
std::optional<unsigned long> first_readable_address(int proc_directory);

}  // namespace platform
