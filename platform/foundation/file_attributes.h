#pragma once

#include <string>

// Single attributes of an item, read without following a link at the item itself.
namespace platform::file_attributes {

bool isSymbolicLinkAtPath(const std::string& path);

}  // namespace platform::file_attributes
