#pragma once

#include <sys/types.h>

#include <string>

#include "tests/support/scratch_directory.h"

using scratch_directory_t = test_support::scratch_directory_t;

void write_text(const std::string& path, const std::string& text, mode_t mode = 0644);
std::string read_text(const std::string& path);
mode_t mode_of(const std::string& path);
