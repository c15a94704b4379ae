#pragma once
// MD5 digest and HMAC-MD5 (used by CRAM-MD5 authentication), computed by OpenSSL's
// libcrypto.

#include <string>
#include <string_view>

namespace tandrel::mime {

/// The 16 raw bytes of the MD5 digest (RFC 1321) of Value; empty only where OpenSSL
/// offers no MD5 (a configuration limited to FIPS algorithms).
std::string MD5(std::string_view Value);
/// The 16 raw bytes of HMAC-MD5 (RFC 2104, 64-byte blocks) of Text under Key;
/// a key longer than 64 bytes is replaced by its digest first. Empty where MD5 is not
/// offered, as for MD5.
std::string HMAC_MD5(std::string_view Text, std::string_view Key);

}  // namespace tandrel::mime
