#include "platform/security/openssl_handles.h"

#include <openssl/err.h>

namespace platform::openssl {

std::string take_error() {
  const unsigned long code = ERR_get_error();
  ERR_clear_error();
  if (code == 0) return "no OpenSSL error";
  char text[256];
  ERR_error_string_n(code, text, sizeof text);
  return text;
}

}  // namespace platform::openssl
