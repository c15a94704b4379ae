#include "mail/CertificateTrust.h"

#include "mime/AsciiText.h"

namespace tandrel::mail {

std::string FingerprintText(std::string_view Digest) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(Digest.size() * 3);
    for (const char c : Digest) {
        const auto byte = static_cast<unsigned char>(c);
        if (!text.empty()) text += ':';
        text += kDigits[byte >> 4];
        text += kDigits[byte & 0x0F];
    }
    return text;
}

bool IsForHost(const TTrustedCertificate& Trusted, std::string_view Host) {
    return mime::LowerAscii(Trusted.Host) == mime::LowerAscii(Host);
}

}  // namespace tandrel::mail
