// One client validation as the listener makes it for each connection: guest lookup, requirement
// compilation, CMS verification against the anchors, hashing of the running executable and of
// Info.plist, requirement evaluation. Argument: size of the main executable in MiB. Beside it:
// hashing a file on a first visit against hashing memory (what `openssl speed -evp sha256`
// measures), and the memory one remembered executable or signature takes. Run pinned:
// taskset -c 1.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <malloc.h>

#include <chrono>
#include <fstream>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

#include "platform/base/lru_cache.h"
#include "platform/security/code_signature.h"
#include "platform/security/code_signing.h"
#include "platform/security/digest.h"
#include "platform/security/file_identity.h"
#include "platform/security/trust_store.h"
#include "tests/platform/security/fixtures.h"

namespace {

using namespace codesign_fixtures;

void BM_validate_client(benchmark::State& state) {
  const std::size_t size = static_cast<std::size_t>(state.range(0)) << 20;
  scratch_directory_t scratch;
  const chain_t chain = make_developer_chain();
  const std::filesystem::path anchors = scratch.path("anchors");
  const std::filesystem::path bundle = make_bundle(scratch.path(), {.executable_size = size});
  if (!write_trust_anchor(anchors, chain) || !sign_bundle(bundle, chain)) {
    state.SkipWithError("cannot prepare the signed bundle");
    return;
  }
  // A returning client: its files changed long enough ago to be remembered.
  std::this_thread::sleep_for(std::chrono::seconds(platform::kSettledSeconds + 1));
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

BENCHMARK(BM_validate_client)->Arg(1)->Arg(20)->Arg(100)->Unit(benchmark::kMicrosecond);

constexpr std::size_t kHashedSize = 100 << 20;

// What a first visit pays for the executable: the whole file read and hashed.
void BM_sha256_of_file(benchmark::State& state) {
  scratch_directory_t scratch;
  const std::filesystem::path path = scratch.path("executable");
  {
    std::ofstream out(path, std::ios::binary);
    const std::vector<char> block(1 << 20, 'x');
    for (std::size_t written = 0; written < kHashedSize; written += block.size())
      out.write(block.data(), static_cast<std::streamsize>(block.size()));
  }
  const platform::unique_fd_t fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  for (auto _ : state)
    benchmark::DoNotOptimize(platform::sha256_of_file(fd.get()));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kHashedSize));
}
BENCHMARK(BM_sha256_of_file)->Unit(benchmark::kMillisecond);

// The machine's hashing speed: the same bytes in 256 KiB blocks already in memory.
void BM_sha256_in_memory(benchmark::State& state) {
  const std::vector<char> block(256 << 10, 'x');
  for (auto _ : state) {
    platform::openssl::evp_md_ctx_ptr_t context(EVP_MD_CTX_new());
    EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr);
    for (std::size_t hashed = 0; hashed < kHashedSize; hashed += block.size())
      EVP_DigestUpdate(context.get(), block.data(), block.size());
    platform::sha256_t digest{};
    EVP_DigestFinal_ex(context.get(), digest.data(), nullptr);
    benchmark::DoNotOptimize(digest);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kHashedSize));
}
BENCHMARK(BM_sha256_in_memory)->Unit(benchmark::kMillisecond);

std::size_t heap_in_use() {
  return mallinfo2().uordblks;
}

constexpr int kEntries = 64;

// Heap bytes one remembered executable digest takes, node and index included.
void BM_memory_per_remembered_executable(benchmark::State& state) {
  for (auto _ : state) {
    const std::size_t before = heap_in_use();
    platform::lru_cache_t<platform::file_identity_t, platform::sha256_t,
                          platform::file_identity_hash_t>
        digests(kEntries);
    for (int entry = 0; entry < kEntries; ++entry)
      digests.insert({.inode = static_cast<ino_t>(entry)}, {});
    state.counters["bytes_per_entry"] = static_cast<double>(heap_in_use() - before) / kEntries;
  }
}
BENCHMARK(BM_memory_per_remembered_executable)->Iterations(1);

// Heap bytes one remembered signature takes: its code directory and its chain's certificates
// (the anchor is shared with the store).
void BM_memory_per_remembered_signature(benchmark::State& state) {
  scratch_directory_t scratch;
  const chain_t chain = make_developer_chain();
  const std::filesystem::path anchors = scratch.path("anchors");
  const std::filesystem::path bundle = make_bundle(scratch.path());
  if (!write_trust_anchor(anchors, chain) || !sign_bundle(bundle, chain)) {
    state.SkipWithError("cannot prepare the signed bundle");
    return;
  }
  std::ifstream in(bundle / "Contents/_CodeSignature/CodeSignature", std::ios::binary);
  const std::string der((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const platform::openssl::x509_store_ptr_t store = platform::load_trust_anchors(anchors);
  for (auto _ : state) {
    const std::size_t before = heap_in_use();
    platform::lru_cache_t<int, std::shared_ptr<const platform::signed_code_t>> signatures(kEntries);
    for (int entry = 0; entry < kEntries; ++entry) {
      platform::signature_check_t check = platform::verify_code_signature(der, store.get());
      if (!check.code) {
        state.SkipWithError("the signature does not verify");
        return;
      }
      signatures.insert(entry, std::move(check.code));
    }
    state.counters["bytes_per_entry"] = static_cast<double>(heap_in_use() - before) / kEntries;
  }
}
BENCHMARK(BM_memory_per_remembered_signature)->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
