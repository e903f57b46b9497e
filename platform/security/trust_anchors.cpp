#include "platform/security/trust_anchors.h"

#include <dirent.h>
#include <fcntl.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/base/lru_cache.h"
#include "platform/base/unique_fd.h"
#include "platform/security/file_identity.h"
#include "platform/security/trust_store.h"

namespace platform {
namespace {

// A daemon reads one anchor folder; tests read a few more.
constexpr std::size_t kRememberedStores = 4;

using stores_t = lru_cache_t<sha256_t, std::shared_ptr<X509_STORE>, sha256_hash_t>;

stores_t& remembered() {
  static stores_t stores(kRememberedStores);
  return stores;
}

std::vector<std::string> pem_names(int directory_fd) {
  std::vector<std::string> names;
  const int fd = ::dup(directory_fd);
  DIR* directory = fd >= 0 ? ::fdopendir(fd) : nullptr;
  if (directory == nullptr) {
    if (fd >= 0) ::close(fd);
    return names;
  }
  while (const dirent* entry = ::readdir(directory)) {
    const std::string_view name = entry->d_name;
    if (name.size() > 4 && name.ends_with(".pem")) names.emplace_back(name);
  }
  ::closedir(directory);
  std::sort(names.begin(), names.end());
  return names;
}

void add_identity(EVP_MD_CTX* context, const file_identity_t& identity) {
  const long long fields[] = {static_cast<long long>(identity.device),
                              static_cast<long long>(identity.inode),
                              static_cast<long long>(identity.size),
                              identity.modified.tv_sec,
                              identity.modified.tv_nsec,
                              identity.changed.tv_sec,
                              identity.changed.tv_nsec};
  EVP_DigestUpdate(context, fields, sizeof fields);
}

// Nothing when the folder cannot be read or something in it has not settled.
std::optional<sha256_t> generation_of(const std::filesystem::path& directory) {
  const timespec now = change_clock_now();
  const unique_fd_t fd(::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  const std::optional<file_identity_t> folder = fd ? identity_of(fd.get()) : std::nullopt;
  if (!folder || !is_settled(*folder, now) || !keeps_change_times(fd.get())) return std::nullopt;

  openssl::evp_md_ctx_ptr_t context(EVP_MD_CTX_new());
  if (!context || EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) != 1) return std::nullopt;
  const std::string path = directory.string();
  EVP_DigestUpdate(context.get(), path.c_str(), path.size() + 1);
  add_identity(context.get(), *folder);
  for (const std::string& name : pem_names(fd.get())) {
    // Followed like the store's loader follows it: the file whose certificates are read.
    struct stat status {};
    if (::fstatat(fd.get(), name.c_str(), &status, 0) != 0) continue;
    const file_identity_t entry = identity_of(status);
    if (!is_settled(entry, now)) return std::nullopt;
    EVP_DigestUpdate(context.get(), name.c_str(), name.size() + 1);
    add_identity(context.get(), entry);
  }
  sha256_t digest{};
  if (EVP_DigestFinal_ex(context.get(), digest.data(), nullptr) != 1) return std::nullopt;
  return digest;
}

}  // namespace

trust_anchors_t current_trust_anchors(const std::filesystem::path& directory) {
  const std::optional<sha256_t> generation = generation_of(directory);
  if (generation) {
    if (std::optional<std::shared_ptr<X509_STORE>> store = remembered().find(*generation))
      return {std::move(*store), generation};
  }
  std::shared_ptr<X509_STORE> store(load_trust_anchors(directory).release(), X509_STORE_free);
  if (!store) return {};
  // The folder must not have changed while it was loaded.
  if (!generation || generation_of(directory) != generation)
    return {std::move(store), std::nullopt};
  remembered().insert(*generation, store);
  return {std::move(store), generation};
}

}  // namespace platform
