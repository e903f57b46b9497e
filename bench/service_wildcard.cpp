// Cost of the wildcard sweep over a launchd-folder-sized tree beside a bare readdir walk: the
// enumeration alone, the whole resolution, and the matching alone (ICU, which the sweep uses,
// beside POSIX regexec). Run pinned: taskset -c 1.
#include <benchmark/benchmark.h>
#include <dirent.h>
#include <fcntl.h>
#include <regex.h>
#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "platform/foundation/file_manager.h"
#include "platform/foundation/regular_expression.h"
#include "service/helper_tool.h"

namespace {

constexpr const char* wildcard = "com.corvantix.velmora*.service.plist";
constexpr const char* expression = "^com\\.corvantix\\.velmora.*\\.service\\.plist$";

// 40 folders of 50 lists each, a few of them matching.
class tree_t {
 public:
  tree_t() {
    std::string pattern = "/tmp/velmora-bench.XXXXXX";
    path = ::mkdtemp(pattern.data());
    for (int folder = 0; folder < 40; ++folder) {
      const auto dir = path + "/folder" + std::to_string(folder);
      std::filesystem::create_directory(dir);
      for (int file = 0; file < 50; ++file) {
        const std::string name =
            std::string(file % 10 == 0 ? "com.corvantix.velmora_" : "org.example.agent") +
            std::to_string(file) + ".service.plist";
        std::ofstream(std::filesystem::path(dir) / name);
      }
    }
  }
  tree_t(const tree_t&) = delete;
  tree_t& operator=(const tree_t&) = delete;
  ~tree_t() { std::filesystem::remove_all(path); }

  std::string path;
};

tree_t& tree() {
  static tree_t shared;
  return shared;
}

// The least a sorted deep walk can do: readdir with the entry type, each folder sorted, folders
// entered without following links.
void bare_walk(int dir_fd, const std::string& prefix, std::vector<std::string>& result) {
  DIR* dir = fdopendir(dir_fd);
  if (dir == nullptr) return;
  std::vector<std::pair<std::string, unsigned char>> entries;
  while (const dirent* entry = readdir(dir)) {
    const std::string_view name = entry->d_name;
    if (name != "." && name != "..") entries.emplace_back(name, entry->d_type);
  }
  std::sort(entries.begin(), entries.end());
  for (const auto& [name, type] : entries) {
    std::string relative = prefix.empty() ? name : (prefix + "/").append(name);
    result.push_back(relative);
    if (type != DT_DIR) continue;
    const int inner =
        openat(dirfd(dir), name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (inner >= 0) bare_walk(inner, relative, result);
  }
  closedir(dir);
}

void BM_BareDirentWalk(benchmark::State& state) {
  for (auto _ : state) {
    std::vector<std::string> result;
    bare_walk(open(tree().path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC), "", result);
    benchmark::DoNotOptimize(result);
  }
}
BENCHMARK(BM_BareDirentWalk)->Unit(benchmark::kMicrosecond);

void BM_Enumerate(benchmark::State& state) {
  for (auto _ : state)
    benchmark::DoNotOptimize(platform::file_manager::enumeratorAtPath(tree().path));
}
BENCHMARK(BM_Enumerate)->Unit(benchmark::kMicrosecond);

void BM_ResolveWildcard(benchmark::State& state) {
  helper_tool_t helper;
  for (auto _ : state)
    benchmark::DoNotOptimize(helper.resolveFilesInDirectory(tree().path, wildcard));
}
BENCHMARK(BM_ResolveWildcard)->Unit(benchmark::kMicrosecond);

void BM_MatchPosix(benchmark::State& state) {
  const auto paths = platform::file_manager::enumeratorAtPath(tree().path);
  regex_t compiled;
  regcomp(&compiled, expression, REG_EXTENDED | REG_ICASE | REG_NOSUB);
  for (auto _ : state) {
    for (const auto& path : paths) {
      benchmark::DoNotOptimize(regexec(&compiled, path.c_str(), 0, nullptr, 0));
    }
  }
  regfree(&compiled);
}
BENCHMARK(BM_MatchPosix)->Unit(benchmark::kMicrosecond);

// What the sweep pays for matching: one compilation and a match per entry.
void BM_MatchIcu(benchmark::State& state) {
  using platform::regular_expression_t;
  const auto paths = platform::file_manager::enumeratorAtPath(tree().path);
  for (auto _ : state) {
    auto compiled = regular_expression_t::regularExpressionWithPattern(
        expression, regular_expression_t::options_t::caseInsensitive);
    for (const auto& path : paths)
      benchmark::DoNotOptimize(compiled->numberOfMatchesInString(path));
  }
}
BENCHMARK(BM_MatchIcu)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
