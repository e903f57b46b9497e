#include "platform/security/signature_cache.h"

#include <memory>

#include "platform/base/lru_cache.h"
#include "platform/security/code_signing.h"

namespace platform {
namespace {

constexpr std::size_t kRemembered = 64;

struct key_t {
  sha256_t signature;
  sha256_t generation;

  bool operator==(const key_t&) const = default;
};

struct key_hash_t {
  std::size_t operator()(const key_t& key) const {
    return sha256_hash_t()(key.signature) ^ sha256_hash_t()(key.generation);
  }
};

using signatures_t = lru_cache_t<key_t, std::shared_ptr<const signed_code_t>, key_hash_t>;

signatures_t& remembered() {
  static signatures_t signatures(kRemembered);
  return signatures;
}

// Each certificate of the chain is within its validity period now.
bool valid_now(STACK_OF(X509) * chain) {
  for (int index = 0; index < sk_X509_num(chain); ++index) {
    X509* certificate = sk_X509_value(chain, index);
    if (X509_cmp_current_time(X509_get0_notBefore(certificate)) >= 0 ||
        X509_cmp_current_time(X509_get0_notAfter(certificate)) <= 0) {
      return false;
    }
  }
  return true;
}

}  // namespace

signature_check_t verify_code_signature_remembered(std::string_view der, X509_STORE* anchors,
                                                   const std::optional<sha256_t>& generation) {
  if (!generation) return verify_code_signature(der, anchors);
  const key_t key{sha256_of_bytes(der), *generation};
  if (auto known = remembered().find(key); known && valid_now((*known)->chain.get())) {
    return {0, {}, std::move(*known)};
  }
  signature_check_t check = verify_code_signature(der, anchors);
  if (check.status == 0) remembered().insert(key, check.code);
  return check;
}

std::size_t signatures_reused() {
  return remembered().found();
}

}  // namespace platform
