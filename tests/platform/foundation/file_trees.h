#pragma once

#include <sys/types.h>

#include <string>

// Folders and links the file manager's tests build their trees from.
void makeDir(const std::string& path, mode_t mode = 0755);
void makeLink(const std::string& target, const std::string& path);
std::string linkTarget(const std::string& path);
