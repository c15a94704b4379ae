#pragma once
// A server certificate that fails the check: what the operator is asked about it, and
// the operator's trust once given.

#include <string>
#include <string_view>

namespace tandrel::mail {

/// A certificate that failed the check, as the operator is asked about it (text).
struct TCertificateQuestion {
    /// The server as the mail names it (`Host`).
    std::string Host;
    /// OpenSSL's reason ("hostname mismatch", "self-signed certificate").
    std::string Reason;
    /// The certificate's SHA-256 fingerprint, "AB:CD:..." (32 pairs).
    std::string Fingerprint;
};

/// A certificate trusted for one host although it fails the check.
struct TTrustedCertificate {
    /// The server as the mail names it; compared without regard to ASCII case.
    std::string Host;
    /// The certificate's SHA-256 digest, 32 bytes.
    std::string Digest;

    bool operator==(const TTrustedCertificate&) const = default;
};

/// A digest (bytes) as upper-case hexadecimal pairs joined by ":".
[[nodiscard]] std::string FingerprintText(std::string_view Digest);

/// True when `Trusted` is for `Host` (ASCII case ignored).
[[nodiscard]] bool IsForHost(const TTrustedCertificate& Trusted, std::string_view Host);

}  // namespace tandrel::mail
