// SHA-256 of a byte string as 64 lower-case hex digits (OpenSSL's
// libcrypto), for the input files named in run.json.
#ifndef KORVELAN_COMMON_SHA256_H_
#define KORVELAN_COMMON_SHA256_H_

#include <string>
#include <string_view>

namespace korvelan::tools {

std::string Sha256Hex(std::string_view bytes);

}  // namespace korvelan::tools

#endif  // KORVELAN_COMMON_SHA256_H_
