#pragma once

#include <filesystem>
#include <string>

// A private directory for one test, removed with its contents.
class temporary_directory_t {
 public:
  temporary_directory_t();
  temporary_directory_t(const temporary_directory_t&) = delete;
  temporary_directory_t& operator=(const temporary_directory_t&) = delete;
  ~temporary_directory_t();

  std::string path(const std::string& name = "") const;

 private:
  std::filesystem::path root_;
};

void write_text_file(const std::string& path, const std::string& text, int mode = 0644);
std::string read_text_file(const std::string& path);
