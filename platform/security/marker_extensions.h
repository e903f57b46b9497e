#pragma once

#include <openssl/x509.h>

namespace platform {

// A chain-verification callback that counts the code-signing marker extensions as handled: an
// issuing authority marks them critical, and OpenSSL, which does not know them, would refuse
// the chain. Only the leaf's marker on the leaf and the intermediate authorities' marker on
// authorities are accepted; any other unknown critical extension still fails.
int accept_code_signing_markers(int ok, X509_STORE_CTX* context);

}  // namespace platform
