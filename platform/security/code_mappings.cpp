#include "platform/security/code_mappings.h"

#include <sys/stat.h>

#include <cstdio>
#include <sstream>
#include <string_view>
#include <vector>

#include "platform/security/file_bytes.h"

namespace platform {
namespace {

struct mapping_t {
  std::string range;  // "start-end", as the entry's name under map_files
  unsigned long start = 0;
  std::string permissions;
  std::string path;  // empty for anonymous memory
};

std::optional<mapping_t> parse_mapping(const std::string& line) {
  mapping_t mapping;
  unsigned long end = 0;
  char permissions[5] = {};
  int path_at = 0;
  if (std::sscanf(line.c_str(), "%lx-%lx %4s %*x %*x:%*x %*u %n", &mapping.start, &end, permissions,
                  &path_at) != 3) {
    return std::nullopt;
  }
  mapping.range = line.substr(0, line.find(' '));
  mapping.permissions = permissions;
  mapping.path = line.substr(static_cast<std::size_t>(path_at));
  return mapping;
}

std::optional<std::vector<mapping_t>> mappings_of(int proc_directory) {
  const std::optional<std::string> text = read_file_bytes(proc_directory, "maps");
  if (!text) return std::nullopt;
  std::vector<mapping_t> mappings;
  std::istringstream lines(*text);
  for (std::string line; std::getline(lines, line);) {
    std::optional<mapping_t> mapping = parse_mapping(line);
    if (!mapping) return std::nullopt;
    mappings.push_back(std::move(*mapping));
  }
  return mappings;
}

bool same_file(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Judged by the mapped file itself (map_files), not by a path that may name another file now.
std::optional<std::string> foreign_file(int proc_directory, const mapping_t& mapping,
                                        const struct stat& main_executable) {
  struct stat mapped {};
  const std::string entry = "map_files/" + mapping.range;
  if (::fstatat(proc_directory, entry.c_str(), &mapped, 0) != 0) {
    return "the code mapped from " + mapping.path + " cannot be examined";
  }
  if (same_file(mapped, main_executable)) return std::nullopt;
  if (!S_ISREG(mapped.st_mode) || mapped.st_uid != 0 || (mapped.st_mode & (S_IWGRP | S_IWOTH))) {
    return "the process runs code from " + mapping.path + ", which a user can write";
  }
  return std::nullopt;
}

}  // namespace

std::optional<std::string> foreign_code_mapping(int proc_directory, int executable) {
  struct stat main_executable {};
  const std::optional<std::vector<mapping_t>> mappings = mappings_of(proc_directory);
  if (!mappings || ::fstat(executable, &main_executable) != 0) {
    return "the memory of the process cannot be examined";
  }
  for (const mapping_t& mapping : *mappings) {
    if (mapping.permissions.find('x') == std::string::npos) continue;
    if (mapping.path == "[vdso]" || mapping.path == "[vsyscall]") continue;
    if (mapping.path.empty() || mapping.path.front() == '[') {
      return "the process has anonymous executable memory at " + mapping.range;
    }
    if (auto foreign = foreign_file(proc_directory, mapping, main_executable)) return foreign;
  }
  return std::nullopt;
}

std::optional<unsigned long> first_readable_address(int proc_directory) {
  const std::optional<std::vector<mapping_t>> mappings = mappings_of(proc_directory);
  if (!mappings) return std::nullopt;
  for (const mapping_t& mapping : *mappings) {
    if (mapping.permissions.starts_with('r')) return mapping.start;
  }
  return std::nullopt;
}

}  // namespace platform
