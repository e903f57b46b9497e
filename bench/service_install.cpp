// A full application install of a 50 MiB bundle, and the bundle copy alone. Writes to
// /Applications and /Library: run it inside the throwaway root,
//   tests/sandbox/velmora-sandbox --build BUILD -- BUILD/bin/bench_service_install
// The install's wall time splits into the fixed 1.0 s pause, the CPU time of the tools it runs
// (children_cpu_s) and of the helper itself (own_cpu_s); the rest is waiting on the disk and on
// process start-up.
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>

#include "platform/authorization/external_form.h"
#include "platform/authorization/session_token.h"
#include "platform/foundation/file_manager.h"
#include "service/helper_tool.h"
#include "tools/authorization-agent/scenario.h"

namespace {

namespace fm = platform::file_manager;
namespace authorization = platform::authorization;

constexpr const char* kSource = "/home/alice/Velmora.app";
constexpr int kMiB = 1024 * 1024;
constexpr int kBlobs = 50;
constexpr double kPauseSeconds = 1.0;
constexpr uid_t kAdministrator = 1001;  // alice in the throwaway root

void writeFile(const std::string& path, const std::string& contents, mode_t mode) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << contents;
  chmod(path.c_str(), mode);
}

void makeBundle() {
  fm::removeItemAtPath(kSource, nullptr);
  for (const char* dir : {"", "/Contents", "/Contents/MacOS", "/Contents/Resources"}) {
    mkdir((std::string(kSource) + dir).c_str(), 0755);
  }
  writeFile(std::string(kSource) + "/Contents/Info.plist",
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
            "<key>CFBundleExecutable</key><string>Velmora</string></dict></plist>\n",
            0644);
  writeFile(std::string(kSource) + "/Contents/MacOS/Velmora", "#!/bin/sh\nexit 0\n", 0755);
  std::string blob(kMiB, '\0');
  for (std::size_t i = 0; i < blob.size(); ++i)
    blob[i] = static_cast<char>((i * 131) >> 3);
  for (int i = 0; i < kBlobs; ++i) {
    writeFile(std::string(kSource) + "/Contents/Resources/blob" + std::to_string(i), blob, 0644);
  }
}

// A session of the administrator and the agent's answer for it.
auth_data_t administrator() {
  const auto form = authorization::AuthorizationCreateExternalForm(nullptr);
  if (!form) return std::nullopt;
  const auto token = authorization::session_token_from_bytes(*form);
  const std::string session =
      authorization::session_file_path(authorization::kAuthorizationSessionDirectory, *token);
  if (chown(session.c_str(), kAdministrator, kAdministrator) != 0) return std::nullopt;
  writeFile(agent_scenario::scenario_path, "alice alice-secret\n", 0600);
  return *form;
}

double cpuSeconds(int who) {
  rusage usage{};
  getrusage(who, &usage);
  const auto seconds = [](const timeval& t) {
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
  };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

void BM_FullInstall(benchmark::State& state) {
  helper_tool_t tool;
  double children = 0;
  double own = 0;
  double wall = 0;
  bool all_installed = true;
  for (auto _ : state) {
    state.PauseTiming();
    const auth_data_t auth = administrator();
    const double children_before = cpuSeconds(RUSAGE_CHILDREN);
    const double own_before = cpuSeconds(RUSAGE_SELF);
    const auto start = std::chrono::steady_clock::now();
    state.ResumeTiming();

    tool.install_velmora_with_auth_data(auth, kSource, "", "velmora", "alice",
                                        [&](bool done) { all_installed = all_installed && done; });

    state.PauseTiming();
    wall += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    children += cpuSeconds(RUSAGE_CHILDREN) - children_before;
    own += cpuSeconds(RUSAGE_SELF) - own_before;
    state.ResumeTiming();
  }
  if (!all_installed) state.SkipWithError("an install replied NO");
  const auto per_run = benchmark::Counter::kAvgIterations;
  const double pauses = kPauseSeconds * static_cast<double>(state.iterations());
  state.counters["pause_s"] = benchmark::Counter(pauses, per_run);
  state.counters["children_cpu_s"] = benchmark::Counter(children, per_run);
  state.counters["own_cpu_s"] = benchmark::Counter(own, per_run);
  state.counters["waiting_s"] = benchmark::Counter(wall - pauses - children - own, per_run);
}

// The helper's own heaviest step: the descriptor-walking copy.
void BM_CopyBundle(benchmark::State& state) {
  const std::string destination = "/Applications/Copy.app";
  for (auto _ : state) {
    state.PauseTiming();
    fm::removeItemAtPath(destination, nullptr);
    state.ResumeTiming();
    std::string error;
    if (!fm::copyItemAtPath(kSource, destination, &error)) state.SkipWithError(error.c_str());
  }
  fm::removeItemAtPath(destination, nullptr);
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * kBlobs * kMiB);
}

BENCHMARK(BM_FullInstall)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);
BENCHMARK(BM_CopyBundle)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(10);

}  // namespace

int main(int argc, char** argv) {
  if (access("/etc/velmora-sandbox", F_OK) != 0) {
    std::fprintf(stderr, "%s: writes to /Applications; run it inside the throwaway root\n",
                 argv[0]);
    return 1;
  }
  trace_use_path(string_t("/var/log/bench-install.trace"));
  makeBundle();
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
