#pragma once
// The TLS plug-in contract of a TCP socket, and the plug-in without TLS.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace tandrel::net {

class TTCPBlockSocket;
class TCustomSSL;

/// Protocol choice of a plug-in, in this order.
enum class TSSLType { LT_all, LT_SSLv2, LT_SSLv3, LT_TLSv1, LT_TLSv1_1, LT_TLSv1_2, LT_TLSv1_3, LT_SSHv2 };

/// Decides whether a peer certificate is accepted.
using THookVerifyCert = std::function<bool(TCustomSSL& Sender)>;

/// A plug-in class: makes the plug-in for its owning socket.
using TSSLClass = std::unique_ptr<TCustomSSL> (*)(TTCPBlockSocket& Value);

/// TLS plug-in owned by one TTCPBlockSocket. The base does no TLS: every
/// operation fails with LastError -1 and "SSL/TLS support is not compiled!".
class TCustomSSL {
public:
    /// Stores the owning socket (not owned).
    explicit TCustomSSL(TTCPBlockSocket& Value);
    virtual ~TCustomSSL() = default;
    TCustomSSL(const TCustomSSL&) = delete;
    TCustomSSL& operator=(const TCustomSSL&) = delete;

    /// Stores the CA file name only.
    virtual void SetCertCAFile(const std::string& Value);
    /// Makes a certificate and key for server use; false in the base.
    [[nodiscard]] virtual bool CreateSelfSignedCert(const std::string& Host);
    /// Copies the settings (not the hook, socket, state or error) of Value.
    virtual void Assign(const TCustomSSL& Value);
    [[nodiscard]] virtual std::string LibVersion();
    [[nodiscard]] virtual std::string LibName();
    /// Client handshake on the socket's handle; true when TLS is on.
    [[nodiscard]] virtual bool Connect();
    /// Server handshake on the socket's handle; true when TLS is on.
    [[nodiscard]] virtual bool Accept();
    /// One close notice, then the TLS state is released.
    virtual bool Shutdown();
    /// Two-way close, then the TLS state is released.
    virtual bool BiShutdown();
    /// Bytes written; 0 without error when the peer closed TLS; below 1 with
    /// LastError set on failure, or with LastError WantWrite when the platform
    /// took no more bytes (call again with the same bytes once there is room).
    virtual int SendBuffer(const void* Buffer, int Len);
    /// Bytes read; 0 without error when the peer closed TLS; below 1 with
    /// LastError set on failure, or with LastError WantRead when no
    /// application byte has arrived yet (the read does not wait for one).
    virtual int RecvBuffer(void* Buffer, int Len);
    /// Decrypted bytes ready now; never blocks.
    [[nodiscard]] virtual int WaitingData();
    [[nodiscard]] virtual std::string GetSSLVersion();
    [[nodiscard]] virtual std::string GetPeerSubject();
    [[nodiscard]] virtual int GetPeerSerialNo();
    [[nodiscard]] virtual std::string GetPeerIssuer();
    [[nodiscard]] virtual std::string GetPeerName();
    [[nodiscard]] virtual std::uint32_t GetPeerNameHash();
    [[nodiscard]] virtual std::string GetPeerFingerprint();
    [[nodiscard]] virtual std::string GetCertInfo();
    [[nodiscard]] virtual std::string GetCipherName();
    [[nodiscard]] virtual int GetCipherBits();
    [[nodiscard]] virtual int GetCipherAlgBits();
    [[nodiscard]] virtual int GetVerifyCert();

    /// LastError of a RecvBuffer that found no application byte yet (records of
    /// the protocol's own, or part of a record, came instead): no failure, the
    /// socket waits for more and reads again.
    static constexpr int WantRead = 2;
    /// LastError of a SendBuffer whose bytes the platform did not take in time.
    static constexpr int WantWrite = 3;

    /// Records LastError -1 and "SSL/TLS support is not compiled!".
    void ReturnError();
    /// Result of OnVerifyCert when set, else true.
    [[nodiscard]] bool DoVerifyCert();

    [[nodiscard]] TTCPBlockSocket& Socket() const noexcept { return FSocket; }
    [[nodiscard]] bool SSLEnabled() const noexcept { return FSSLEnabled; }
    [[nodiscard]] int LastError() const noexcept { return FLastError; }
    [[nodiscard]] const std::string& LastErrorDesc() const noexcept { return FLastErrorDesc; }

    [[nodiscard]] const THookVerifyCert& OnVerifyCert() const noexcept { return FOnVerifyCert; }
    void SetOnVerifyCert(THookVerifyCert Value) { FOnVerifyCert = std::move(Value); }
    [[nodiscard]] TSSLType SSLType() const noexcept { return FSSLType; }
    void SetSSLType(TSSLType Value) noexcept { FSSLType = Value; }
    [[nodiscard]] const std::string& KeyPassword() const noexcept { return FKeyPassword; }
    void SetKeyPassword(const std::string& Value) { FKeyPassword = Value; }
    [[nodiscard]] const std::string& Ciphers() const noexcept { return FCiphers; }
    void SetCiphers(const std::string& Value) { FCiphers = Value; }
    [[nodiscard]] const std::string& CertificateFile() const noexcept { return FCertificateFile; }
    void SetCertificateFile(const std::string& Value) { FCertificateFile = Value; }
    [[nodiscard]] const std::string& PrivateKeyFile() const noexcept { return FPrivateKeyFile; }
    void SetPrivateKeyFile(const std::string& Value) { FPrivateKeyFile = Value; }
    /// Bytes (DER).
    [[nodiscard]] const std::string& Certificate() const noexcept { return FCertificate; }
    void SetCertificate(const std::string& Value) { FCertificate = Value; }
    /// Bytes (DER).
    [[nodiscard]] const std::string& PrivateKey() const noexcept { return FPrivateKey; }
    void SetPrivateKey(const std::string& Value) { FPrivateKey = Value; }
    /// Bytes (PKCS#12).
    [[nodiscard]] const std::string& PFX() const noexcept { return FPFX; }
    void SetPFX(const std::string& Value) { FPFX = Value; }
    [[nodiscard]] const std::string& PFXfile() const noexcept { return FPFXfile; }
    void SetPFXfile(const std::string& Value) { FPFXfile = Value; }
    /// Bytes.
    [[nodiscard]] const std::string& CertCA() const noexcept { return FCertCA; }
    void SetCertCA(const std::string& Value) { FCertCA = Value; }
    [[nodiscard]] const std::string& CertCAFile() const noexcept { return FCertCAFile; }
    /// Bytes.
    [[nodiscard]] const std::string& TrustCertificate() const noexcept { return FTrustCertificate; }
    void SetTrustCertificate(const std::string& Value) { FTrustCertificate = Value; }
    [[nodiscard]] const std::string& TrustCertificateFile() const noexcept { return FTrustCertificateFile; }
    void SetTrustCertificateFile(const std::string& Value) { FTrustCertificateFile = Value; }
    [[nodiscard]] bool VerifyCert() const noexcept { return FVerifyCert; }
    void SetVerifyCert(bool Value) noexcept { FVerifyCert = Value; }
    [[nodiscard]] const std::string& Username() const noexcept { return FUsername; }
    void SetUsername(const std::string& Value) { FUsername = Value; }
    [[nodiscard]] const std::string& Password() const noexcept { return FPassword; }
    void SetPassword(const std::string& Value) { FPassword = Value; }
    [[nodiscard]] const std::string& SSHChannelType() const noexcept { return FSSHChannelType; }
    void SetSSHChannelType(const std::string& Value) { FSSHChannelType = Value; }
    [[nodiscard]] const std::string& SSHChannelArg1() const noexcept { return FSSHChannelArg1; }
    void SetSSHChannelArg1(const std::string& Value) { FSSHChannelArg1 = Value; }
    [[nodiscard]] const std::string& SSHChannelArg2() const noexcept { return FSSHChannelArg2; }
    void SetSSHChannelArg2(const std::string& Value) { FSSHChannelArg2 = Value; }
    [[nodiscard]] int CertComplianceLevel() const noexcept { return FCertComplianceLevel; }
    void SetCertComplianceLevel(int Value) noexcept { FCertComplianceLevel = Value; }
    /// Server name sent in the handshake; empty = none.
    [[nodiscard]] const std::string& SNIHost() const noexcept { return FSNIHost; }
    void SetSNIHost(const std::string& Value) { FSNIHost = Value; }
    /// Host name or address (IPv4 or IPv6 text) the peer's certificate must be
    /// issued for when VerifyCert is set; empty = any name.
    [[nodiscard]] const std::string& CertHost() const noexcept { return FCertHost; }
    void SetCertHost(const std::string& Value) { FCertHost = Value; }
    /// SHA-256 digests (32 bytes each) of certificates the check accepts although
    /// they fail it (VerifyCert): those someone has chosen to trust for this host.
    [[nodiscard]] const std::vector<std::string>& TrustedFingerprints() const noexcept {
        return FTrustedFingerprints;
    }
    void SetTrustedFingerprints(std::vector<std::string> Value) { FTrustedFingerprints = std::move(Value); }
    /// Why the peer's certificate failed the check of the last client handshake
    /// (OpenSSL's text, "hostname mismatch"); empty when it passed, was trusted
    /// or was not checked.
    [[nodiscard]] const std::string& CertCheckError() const noexcept { return FCertCheckError; }
    /// SHA-256 digest (32 bytes) of the certificate the last client handshake
    /// checked, kept after a failed handshake (when the peer queries have
    /// nothing to say); empty when no check was made.
    [[nodiscard]] const std::string& CertCheckFingerprint() const noexcept { return FCertCheckFingerprint; }

protected:
    THookVerifyCert FOnVerifyCert;
    TTCPBlockSocket& FSocket;
    bool FSSLEnabled = false;
    int FLastError = 0;
    std::string FLastErrorDesc;
    TSSLType FSSLType = TSSLType::LT_all;
    std::string FKeyPassword;
    std::string FCiphers;
    std::string FCertificateFile;
    std::string FPrivateKeyFile;
    std::string FCertificate;
    std::string FPrivateKey;
    std::string FPFX;
    std::string FPFXfile;
    std::string FCertCA;
    std::string FCertCAFile;
    std::string FTrustCertificate;
    std::string FTrustCertificateFile;
    bool FVerifyCert = false;
    std::string FUsername;
    std::string FPassword;
    std::string FSSHChannelType;
    std::string FSSHChannelArg1;
    std::string FSSHChannelArg2;
    int FCertComplianceLevel = -1;
    std::string FSNIHost;
    std::string FCertHost;
    std::vector<std::string> FTrustedFingerprints;
    std::string FCertCheckError;
    std::string FCertCheckFingerprint;
};

/// The plug-in without TLS: the base behaviour, with its own library texts.
class TSSLNone : public TCustomSSL {
public:
    using TCustomSSL::TCustomSSL;
    /// "Without SSL support".
    [[nodiscard]] std::string LibVersion() override;
    /// "tls_none".
    [[nodiscard]] std::string LibName() override;
};

/// Plug-in class of TSSLNone.
[[nodiscard]] std::unique_ptr<TCustomSSL> CreateSSLNone(TTCPBlockSocket& Value);

/// The plug-in class a socket made with the default constructor instantiates.
extern TSSLClass SSLImplementation;

}  // namespace tandrel::net
