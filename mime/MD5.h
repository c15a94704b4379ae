#pragma once
// MD5 digest and HMAC-MD5 (used by CRAM-MD5 authentication).

#include <string>
#include <string_view>

namespace tandrel::mime {

/// The 16 raw bytes of the MD5 digest (RFC 1321) of Value.
std::string MD5(std::string_view Value);
/// The 16 raw bytes of HMAC-MD5 (RFC 2104, 64-byte blocks) of Text under Key;
/// a key longer than 64 bytes is replaced by its digest first.
std::string HMAC_MD5(std::string_view Text, std::string_view Key);

}  // namespace tandrel::mime
