#pragma once

#include <sys/types.h>

#include <string>

// What the service creates for a namespace in shared system folders (/etc, /var/log) carries a
// mark that only root can set, a trusted extended attribute, so the service can later tell its
// own entries from those of the system or of other programs, which it must leave alone.
namespace platform::creation_mark {

enum class found_t {
  absent,  // nothing at the path, not even a link
  marked,  // an entry of the kind asked for, carrying the mark
  foreign  // anything else: another kind, a link, an entry without the mark
};

// What is at path, a last link not followed.
found_t fileAt(const std::string& path);
found_t directoryAt(const std::string& path);

// Creates an empty regular file or a folder where nothing is, and marks it; an entry that
// cannot be marked is removed again. False when nothing marked could be made.
bool createMarkedFile(const std::string& path, mode_t mode);
bool createMarkedDirectory(const std::string& path, mode_t mode);

}  // namespace platform::creation_mark
