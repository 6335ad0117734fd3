#include "common/sha256.h"

// The one-call digest rather than EVP's: EVP's first use in a process
// loads OpenSSL's configuration and providers (about 2 ms and some 4500
// allocations here, more than hashing a run's five tables), on whichever
// thread gets there first while the others wait. The digest is the same.
#define OPENSSL_SUPPRESS_DEPRECATED
#include <openssl/sha.h>

namespace korvelan::tools {

std::string Sha256Hex(std::string_view bytes) {
  unsigned char digest[SHA256_DIGEST_LENGTH];
  SHA256(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), digest);
  static constexpr char kHex[] = "0123456789abcdef";
  std::string hex(2 * SHA256_DIGEST_LENGTH, '0');
  for (std::size_t i = 0; i < SHA256_DIGEST_LENGTH; ++i) {
    hex[2 * i] = kHex[digest[i] >> 4];
    hex[2 * i + 1] = kHex[digest[i] & 15];
  }
  return hex;
}

}  // namespace korvelan::tools
