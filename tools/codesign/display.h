#pragma once

#include <filesystem>
#include <string>

#include "platform/security/code_signature.h"

// What --display prints about a verified signature.
namespace codesign_display {

// The requirement text the signature records, or for a signature that records none the
// default one its chain gives.
std::string designated_requirement(const platform::signed_code_t& code);

// Identifier, team, code directory hash, sealed digests, the chain, the entitlements and the
// designated requirement, one "Name=value" a line.
std::string describe(const std::filesystem::path& executable, const platform::signed_code_t& code);

}  // namespace codesign_display
