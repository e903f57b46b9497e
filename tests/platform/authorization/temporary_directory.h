#pragma once

#include <filesystem>
#include <string>

#include "tests/support/scratch_directory.h"

using temporary_directory_t = test_support::scratch_directory_t;

void write_text_file(const std::string& path, const std::string& text, int mode = 0644);
std::string read_text_file(const std::string& path);
