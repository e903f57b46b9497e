#pragma once

#include <filesystem>
#include <string>

#include "platform/security/code_signature.h"

namespace platform {

// What the signer declares beside the sealed files.
struct signing_declarations_t {
  std::string entitlements;  // a property list dictionary, any format; none when empty
  // A requirement text; the default designated requirement when empty.
  std::string designated_requirement;
};

// Seals the bundle's main executable and Info.plist under the identifier, with the
// declarations, and writes the signature to Contents/_CodeSignature/CodeSignature (replacing an
// older one). The team identifier is the leaf's subject OU. False with the reason in *error on
// failure.
bool sign_bundle(const std::filesystem::path& bundle, const std::string& identifier,
                 const signing_identity_t& identity, std::string& error,
                 const signing_declarations_t& declarations = {});

}  // namespace platform
