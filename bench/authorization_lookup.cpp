// What a privileged request costs before anyone is asked for credentials: finding the command's
// right, reading its rule from the database and checking the session file. The goal is that
// all three together stay far below a millisecond, so the check is never what a user waits for.

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "authorization/helper_tool_common.h"
#include "platform/authorization/rights_database.h"
#include "platform/authorization/session_token.h"
#include "service/selectors.h"

namespace authorization = platform::authorization;

namespace {

// A private directory for one benchmark, removed afterwards.
class scratch_t {
 public:
  scratch_t() {
    std::string pattern = (std::filesystem::temp_directory_path() / "velmora-bench.XXXXXX");
    if (::mkdtemp(pattern.data()) != nullptr) path = pattern;
  }
  scratch_t(const scratch_t&) = delete;
  scratch_t& operator=(const scratch_t&) = delete;
  ~scratch_t() {
    std::error_code ignored;
    if (!path.empty()) std::filesystem::remove_all(path, ignored);
  }
  std::string path;
};

void BM_RightForCommand(benchmark::State& state) {
  for (auto _ : state) {
    benchmark::DoNotOptimize(
        helper_tool_common_t::authorization_right_for_command(selector::install_velmora));
  }
}
BENCHMARK(BM_RightForCommand);

// The authority opens the database for every decision.
void BM_RuleLookupWithOpen(benchmark::State& state) {
  scratch_t scratch;
  const std::string path = scratch.path + "/auth.db";
  authorization::rights_database_t(path).set("com.example.right", {"is-admin", "d"});
  for (auto _ : state) {
    authorization::right_definition_t definition;
    benchmark::DoNotOptimize(
        authorization::rights_database_t(path).get("com.example.right", &definition));
  }
}
BENCHMARK(BM_RuleLookupWithOpen);

void BM_SessionFileOwner(benchmark::State& state) {
  scratch_t scratch;
  const std::string path = scratch.path + "/token";
  ::close(::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600));
  for (auto _ : state)
    benchmark::DoNotOptimize(authorization::session_file(path));
}
BENCHMARK(BM_SessionFileOwner);

}  // namespace

BENCHMARK_MAIN();
