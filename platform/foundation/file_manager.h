#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// The file operations of the platform's default file manager, with its semantics.
namespace platform::file_manager {

// Follows links: a dangling link does not exist.
bool fileExistsAtPath(const std::string& path);

// Creates an empty file (mode 0666 less the umask); fails when it cannot be created.
bool createFileAtPath(const std::string& path);

// Creates the directory, with its missing parents when intermediate is set; an existing
// directory is success.
bool createDirectoryAtPath(const std::string& path, bool intermediate, std::string* error);

// The whole contents of a regular file, or nothing.
std::optional<std::vector<std::uint8_t>> contentsAtPath(const std::string& path);

// Removes recursively; a link is removed, never followed.
bool removeItemAtPath(const std::string& path, std::string* error);

// Copies recursively; links stay links; fails when the destination exists.
bool copyItemAtPath(const std::string& source, const std::string& destination, std::string* error);

// A new folder, private to this process's user, beside path (on the same volume), in which a
// replacement for the item at path can be prepared. Nothing when it cannot be made.
std::optional<std::string> itemReplacementDirectoryFor(const std::string& path, std::string* error);

// Puts the item at replacement in place of the item at original in one step; where there was
// no original it just moves there. The original item is not removed: it is left at
// replacement's path.
bool replaceItemAtPath(const std::string& original, const std::string& replacement,
                       std::string* error);

// Every entry under the directory, deep, as paths relative to it; linked directories are not
// entered. A directory that cannot be read yields nothing.
std::vector<std::string> enumeratorAtPath(const std::string& directory);

// Joins a path component the way the platform does ("a" + "b" gives "a/b", "/a/" + "b" "/a/b").
std::string stringByAppendingPathComponent(const std::string& path, const std::string& component);

// The last path component ("/a/b.app/" gives "b.app").
std::string lastPathComponent(const std::string& path);

}  // namespace platform::file_manager
