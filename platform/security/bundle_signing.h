#pragma once

#include <filesystem>
#include <string>

#include "platform/security/code_signature.h"

namespace platform {

// Seals the bundle's main executable and Info.plist under the identifier and writes the
// signature to Contents/_CodeSignature/CodeSignature (replacing an older one). The team
// identifier is the leaf's subject OU. False with the reason in *error on failure.
bool sign_bundle(const std::filesystem::path& bundle, const std::string& identifier,
                 const signing_identity_t& identity, std::string& error);

}  // namespace platform
