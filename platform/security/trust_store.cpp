#include "platform/security/trust_store.h"

#include <openssl/err.h>
#include <openssl/pem.h>

#include <algorithm>
#include <system_error>
#include <vector>

namespace platform {

namespace {

std::vector<std::filesystem::path> pem_files(const std::filesystem::path& directory) {
  std::vector<std::filesystem::path> files;
  std::error_code error;
  for (std::filesystem::directory_iterator it(directory, error), end; !error && it != end;
       it.increment(error)) {
    if (it->path().extension() == ".pem" && it->is_regular_file(error)) files.push_back(it->path());
  }
  std::sort(files.begin(), files.end());
  return files;
}

void free_vendor_roots(void*, void* roots, CRYPTO_EX_DATA*, int, long, void*) {
  openssl::free_x509_stack(static_cast<STACK_OF(X509)*>(roots));
}

// Where a store keeps its vendor roots (a stack it owns).
int vendor_roots_index() {
  static const int index =
      X509_STORE_get_ex_new_index(0, nullptr, nullptr, nullptr, &free_vendor_roots);
  return index;
}

STACK_OF(X509) * vendor_roots(X509_STORE* store) {
  return static_cast<STACK_OF(X509)*>(X509_STORE_get_ex_data(store, vendor_roots_index()));
}

void add_certificates(X509_STORE* store, const std::filesystem::path& file) {
  openssl::bio_ptr_t bio(BIO_new_file(file.c_str(), "r"));
  if (!bio) return;
  const bool vendor = file.filename() == kVendorRootFile;
  while (openssl::x509_ptr_t certificate{PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr)}) {
    X509_STORE_add_cert(store, certificate.get());
    if (vendor && sk_X509_push(vendor_roots(store), certificate.get()) > 0) {
      static_cast<void>(certificate.release());  // the vendor stack owns it now
    }
  }
  ERR_clear_error();  // the end of the file reads as an error
}

bool contains(STACK_OF(X509) * certificates, X509* certificate) {
  for (int index = 0; index < sk_X509_num(certificates); ++index) {
    if (X509_cmp(sk_X509_value(certificates, index), certificate) == 0) return true;
  }
  return false;
}

}  // namespace

openssl::x509_store_ptr_t load_trust_anchors(const std::filesystem::path& directory) {
  openssl::x509_store_ptr_t store(X509_STORE_new());
  if (!store) return store;
  X509_STORE_set_purpose(store.get(), X509_PURPOSE_ANY);
  STACK_OF(X509)* roots = sk_X509_new_null();
  if (roots == nullptr || X509_STORE_set_ex_data(store.get(), vendor_roots_index(), roots) != 1) {
    sk_X509_free(roots);
    return nullptr;
  }
  for (const std::filesystem::path& file : pem_files(directory))
    add_certificates(store.get(), file);
  return store;
}

bool is_trust_anchor(X509_STORE* store, X509* certificate) {
  STACK_OF(X509_OBJECT)* objects = X509_STORE_get0_objects(store);
  for (int index = 0; index < sk_X509_OBJECT_num(objects); ++index) {
    X509* anchor = X509_OBJECT_get0_X509(sk_X509_OBJECT_value(objects, index));
    if (anchor != nullptr && X509_cmp(anchor, certificate) == 0) return true;
  }
  return false;
}

bool is_vendor_root(X509_STORE* store, X509* certificate) {
  STACK_OF(X509)* roots = vendor_roots(store);
  return roots != nullptr && contains(roots, certificate);
}

}  // namespace platform
