// Wildcards turned into expressions and matched against a directory's entries. Where the
// wildcard uses only "*", "?", "." and plain characters, the answer must be fnmatch's.
#include <fnmatch.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <set>

#include "fuzz/fuzz_support.h"
#include "service/helper_tool.h"

namespace {

namespace fs = std::filesystem;

const std::vector<std::string>& entries() {
  static const std::vector<std::string> names{
      "Velmora.plist", "velmora.trace",   "a",         ".hidden", "x-1.log",
      "dir",           "dir/inner.PLIST", "dir/a.b.c", "dir/sub", "dir/sub/z?"};
  return names;
}

const std::string& directory() {
  static const std::string path = [] {
    const fs::path root = fs::path(fuzz_support::scratch_directory()) / "wildcard";
    fs::create_directories(root / "dir" / "sub");
    for (const auto& name : entries()) {
      if (!fs::exists(root / name)) fuzz_support::write_file(root / name, "");
    }
    return root.string();
  }();
  return path;
}

bool is_plain(std::string_view wildcard) {
  return std::ranges::all_of(wildcard, [](char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '*' || c == '?' || c == '.' ||
           c == '-' || c == '_' || c == '/';
  });
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz_support::trace_into_scratch();
  static helper_tool_t service;
  const std::string wildcard(fuzz_support::as_text(data, size));
  const auto found = service.resolveFilesInDirectory(directory(), wildcard);
  std::set<std::string> found_names;
  for (const auto& path : found) {
    if (!path.starts_with(directory() + "/")) std::abort();
    found_names.insert(path.substr(directory().size() + 1));
  }
  if (!is_plain(wildcard)) return 0;
  std::set<std::string> expected;
  for (const auto& name : entries()) {
    if (::fnmatch(wildcard.c_str(), name.c_str(), FNM_CASEFOLD) == 0) expected.insert(name);
  }
  if (found_names != expected) std::abort();
  return 0;
}
