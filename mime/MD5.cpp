#include "mime/MD5.h"

#include <openssl/evp.h>
#include <openssl/hmac.h>

namespace tandrel::mime {
namespace {

constexpr std::size_t kDigestBytes = 16;
constexpr std::size_t kBlockBytes = 64;

unsigned char* Bytes(std::string& Out) { return reinterpret_cast<unsigned char*>(Out.data()); }
const unsigned char* Bytes(std::string_view In) { return reinterpret_cast<const unsigned char*>(In.data()); }

// What a digest gives when OpenSSL refused it.
std::string Checked(std::string Out, bool Done, unsigned int Size) {
    if (!Done || Size != kDigestBytes) Out.clear();
    return Out;
}

}  // namespace

std::string MD5(std::string_view Value) {
    std::string out(kDigestBytes, '\0');
    unsigned int size = 0;
    const bool done = ::EVP_Digest(Value.data(), Value.size(), Bytes(out), &size, ::EVP_md5(), nullptr) == 1;
    return Checked(std::move(out), done, size);
}

std::string HMAC_MD5(std::string_view Text, std::string_view Key) {
    // OpenSSL would digest a long key itself; doing it here keeps its length within an int.
    const std::string longKey = Key.size() > kBlockBytes ? MD5(Key) : std::string();
    const std::string_view key = Key.size() > kBlockBytes ? std::string_view(longKey) : Key;
    static const unsigned char kNoKey = 0;  // an empty key still needs a pointer
    std::string out(kDigestBytes, '\0');
    unsigned int size = 0;
    const bool done = ::HMAC(::EVP_md5(), key.empty() ? &kNoKey : Bytes(key), static_cast<int>(key.size()),
                             Bytes(Text), Text.size(), Bytes(out), &size) != nullptr;
    return Checked(std::move(out), done, size);
}

}  // namespace tandrel::mime
