#include "mail/CertificateTrust.h"

#include "support/AsciiText.h"

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
    return support::LowerAscii(Trusted.Host) == support::LowerAscii(Host);
}

}  // namespace tandrel::mail
