// Cost of the wildcard sweep over a launchd-folder-sized tree: the enumeration alone, the whole
// resolution, and the matching alone with the POSIX engine it uses beside std::regex.
#include <benchmark/benchmark.h>
#include <regex.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <regex>

#include "platform/foundation/file_manager.h"
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
        const auto name = file % 10 == 0 ? "com.corvantix.velmora_" + std::to_string(file)
                                         : "org.example.agent" + std::to_string(file);
        std::ofstream(dir + "/" + name + ".service.plist");
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

void BM_MatchStdRegex(benchmark::State& state) {
  const auto paths = platform::file_manager::enumeratorAtPath(tree().path);
  const std::regex compiled(expression, std::regex::ECMAScript | std::regex::icase);
  for (auto _ : state) {
    for (const auto& path : paths)
      benchmark::DoNotOptimize(std::regex_match(path, compiled));
  }
}
BENCHMARK(BM_MatchStdRegex)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
