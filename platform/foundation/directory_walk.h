#pragma once

#include <functional>
#include <string_view>

// The deep enumeration beneath the file manager's enumerator, for callers that keep only some of
// the entries and should not pay for the others.
namespace platform::directory_walk {

// Receives each entry's path relative to the starting folder; the text lives until it returns.
using visitor_t = std::function<void(std::string_view relative)>;

// Visits every entry under the directory at path, depth first: each folder's entries sorted
// bytewise, a folder before its contents. The starting folder may be reached through a link;
// linked folders beneath it are not entered. A folder that cannot be read is skipped.
void walk(const char* path, const visitor_t& visit);

}  // namespace platform::directory_walk
