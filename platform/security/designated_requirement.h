#pragma once

#include <openssl/x509.h>

#include <string>
#include <string_view>

namespace platform {

// The designated requirement recorded when the signer gives none, built the way the platform's
// signing tool builds it: the identifier, the anchor, and the clause that names the team's
// certificate. A Developer ID leaf (its marker extension, issued by an intermediate with the
// Developer ID marker) is named by both markers and its team; any other leaf by its team.
// issuer: certificate 1, the leaf's issuer, or null.
std::string default_designated_requirement(std::string_view identifier, X509* leaf, X509* issuer,
                                           std::string_view team);

}  // namespace platform
