#pragma once

#include <sys/types.h>

#include <string>

#include "tests/support/scratch_directory.h"

using scratch_dir_t = test_support::scratch_directory_t;

void writeFile(const std::string& path, const std::string& contents, mode_t mode = 0644);
std::string readFile(const std::string& path);
void makeDir(const std::string& path, mode_t mode = 0755);
void makeLink(const std::string& target, const std::string& path);
std::string linkTarget(const std::string& path);
mode_t modeOf(const std::string& path);  // lstat's full st_mode
