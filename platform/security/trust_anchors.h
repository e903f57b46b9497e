#pragma once

#include <filesystem>
#include <memory>
#include <optional>

#include "platform/security/digest.h"
#include "platform/security/openssl_handles.h"

namespace platform {

// The trust anchors of a folder as they are now, and the folder's generation: a digest of the
// folder's and its *.pem entries' identities (file_identity.h). Results verified against one
// generation hold for as long as the folder has that generation.
struct trust_anchors_t {
  std::shared_ptr<X509_STORE> store;  // null when no store could be made
  // None while the folder or an entry changed too recently to be told apart from a later change.
  std::optional<sha256_t> generation;
};

// The store is loaded again only when the generation changed.
trust_anchors_t current_trust_anchors(const std::filesystem::path& directory);

}  // namespace platform
