#pragma once

#include <string>
#include <string_view>

// Writes whole files for the file manager and the property lists.
namespace platform::file_writing {

// Replaces the file at path with bytes. Atomically: the bytes go to a new file beside it, which is
// then renamed over it, so a reader sees either the old or the new file, never a torn one; a link
// at path is replaced, not followed. The new file keeps the mode of the regular file it replaces,
// else gets 0666 less the umask.
bool write_atomically(const std::string& path, std::string_view bytes);

// Writes bytes into the file at path in place, creating it (0666 less the umask) or truncating it.
bool write_in_place(const std::string& path, std::string_view bytes);

}  // namespace platform::file_writing
