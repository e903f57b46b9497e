#include "platform/security/digest.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>

#include "platform/security/openssl_handles.h"

namespace platform {

namespace {

constexpr std::size_t kReadSize = 256 << 10;

}  // namespace

std::size_t sha256_hash_t::operator()(const sha256_t& digest) const {
  std::size_t hash = 0;
  std::memcpy(&hash, digest.data(), sizeof hash);
  return hash;
}

sha256_t sha256_of_bytes(std::string_view bytes) {
  sha256_t digest{};
  EVP_Digest(bytes.data(), bytes.size(), digest.data(), nullptr, EVP_sha256(), nullptr);
  return digest;
}

std::optional<sha256_t> sha256_of_file(int fd) {
  openssl::evp_md_ctx_ptr_t context(EVP_MD_CTX_new());
  if (!context || EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) != 1) return std::nullopt;
  // Not zero-filled: every byte hashed was read first.
  const std::unique_ptr<char[]> buffer = std::make_unique_for_overwrite<char[]>(kReadSize);
  off_t offset = 0;
  for (;;) {
    const ssize_t count = ::pread(fd, buffer.get(), kReadSize, offset);
    if (count < 0 && errno == EINTR) continue;
    if (count < 0) return std::nullopt;
    if (count == 0) break;
    EVP_DigestUpdate(context.get(), buffer.get(), static_cast<std::size_t>(count));
    offset += count;
  }
  sha256_t digest{};
  if (EVP_DigestFinal_ex(context.get(), digest.data(), nullptr) != 1) return std::nullopt;
  return digest;
}

}  // namespace platform
