// One client validation as the listener makes it for each connection: guest lookup, requirement
// compilation, CMS verification against the anchors, hashing of the running executable and of
// Info.plist, requirement evaluation. Argument: size of the main executable in MiB.
#include <benchmark/benchmark.h>

#include <optional>

#include "platform/security/code_signing.h"
#include "tests/platform/security/fixtures.h"

namespace {

using namespace codesign_fixtures;

void BM_validate_client(benchmark::State& state) {
  const std::size_t size = static_cast<std::size_t>(state.range(0)) << 20;
  scratch_directory_t scratch;
  const chain_t chain = make_developer_chain();
  const std::filesystem::path anchors = scratch.path() / "anchors";
  const std::filesystem::path bundle = make_bundle(scratch.path(), {.executable_size = size});
  if (!write_trust_anchor(anchors, chain) || !sign_bundle(bundle, chain)) {
    state.SkipWithError("cannot prepare the signed bundle");
    return;
  }
  const std::optional<client_process_t> client = client_process_t::start(main_executable(bundle));
  const std::optional<platform::process_ref_t> peer = client ? client->reference() : std::nullopt;
  if (!peer) {
    state.SkipWithError("cannot start the client");
    return;
  }
  for (auto _ : state) {
    const std::optional<platform::guest_code_t> guest =
        platform::SecCodeCopyGuestWithAttributes(*peer);
    const std::optional<platform::requirement_t> requirement =
        platform::SecRequirementCreateWithString(kClientRequirement);
    if (!guest || !requirement ||
        platform::SecCodeCheckValidityWithAnchors(*guest, *requirement, anchors) != 0) {
      state.SkipWithError("the client was refused");
      return;
    }
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(size));
}

BENCHMARK(BM_validate_client)->Arg(1)->Arg(20)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
