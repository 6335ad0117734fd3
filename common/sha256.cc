#include "common/sha256.h"

// The digest's own functions rather than EVP (or SHA256(), which calls
// EVP): EVP's first use in a process loads OpenSSL's configuration and
// providers (about 2 ms and some 4500 allocations here, more than hashing a
// run's five tables), on whichever thread gets there first while the
// others wait. OpenSSL 3 keeps these functions, deprecated; the digest is
// the same.
#define OPENSSL_SUPPRESS_DEPRECATED
#include <openssl/sha.h>

namespace korvelan::tools {

std::string Sha256Hex(std::string_view bytes) {
  unsigned char digest[SHA256_DIGEST_LENGTH];
  SHA256_CTX context;
  SHA256_Init(&context);
  SHA256_Update(&context, bytes.data(), bytes.size());
  SHA256_Final(digest, &context);
  static constexpr char kHex[] = "0123456789abcdef";
  std::string hex(2 * SHA256_DIGEST_LENGTH, '0');
  for (std::size_t i = 0; i < SHA256_DIGEST_LENGTH; ++i) {
    hex[2 * i] = kHex[digest[i] >> 4];
    hex[2 * i + 1] = kHex[digest[i] & 15];
  }
  return hex;
}

}  // namespace korvelan::tools
