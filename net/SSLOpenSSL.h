#pragma once
// The TLS plug-in over OpenSSL 3, linked directly, and the process-wide
// binding state that goes with it.

#include "net/CustomSSL.h"

#include <functional>
#include <memory>
#include <mutex>
#include <string>

struct ssl_st;
struct ssl_ctx_st;
struct bio_st;
struct x509_store_ctx_st;

namespace tandrel::net {

/// Serialises the one-time set-up and the tear-down of the OpenSSL binding.
extern std::mutex SSLCS;

/// Makes OpenSSL usable (once per process, under SSLCS); safe to call from
/// anywhere, any number of times. Always true: the library is linked in.
[[nodiscard]] bool InitSSLInterface();
/// Marks the binding undone; OpenSSL itself cleans up at process exit, so a
/// later InitSSLInterface works again. Returns true.
bool DestroySSLInterface();
/// True between InitSSLInterface and DestroySSLInterface.
[[nodiscard]] bool IsSSLloaded();

/// TLS on the owning socket's handle through OpenSSL. A fresh context and
/// connection object are made for every handshake (Prepare) and released by
/// Shutdown, BiShutdown, the next Prepare or destruction. Failures never
/// throw: they leave LastError/LastErrorDesc (OpenSSL's oldest queued error
/// and its text, or the SSL_get_error class for reads and writes).
class TSSLOpenSSL : public TCustomSSL {
public:
    /// Stores the owning socket; Ciphers "DEFAULT"; no OpenSSL call.
    explicit TSSLOpenSSL(TTCPBlockSocket& Value);
    ~TSSLOpenSSL() override;

    /// "tls_openssl".
    [[nodiscard]] std::string LibName() override;
    /// OpenSSL's own version text, e.g. "OpenSSL 3.0.x ...".
    [[nodiscard]] std::string LibVersion() override;
    /// Makes a 2048-bit RSA key and a self-signed SHA-256 certificate (C=CZ,
    /// CN=Host, valid from a day ago for 60 days) into Certificate and
    /// PrivateKey as DER bytes. False (with the OpenSSL error recorded) only
    /// when OpenSSL cannot make them.
    [[nodiscard]] bool CreateSelfSignedCert(const std::string& Host) override;

    /// Client handshake on the socket's handle, bounded by the socket's
    /// ConnectionTimeout when it is positive (the socket's blocking mode is
    /// restored afterwards). Sends SNIHost when set. With VerifyCert, checks
    /// the peer's chain against CertCAFile (the system's authorities when it
    /// is empty) and the certificate's names against CertHost when set; a
    /// certificate among TrustedFingerprints passes whatever the check says.
    /// A failed check adds its reason to LastErrorDesc and keeps it, with the
    /// certificate's digest, in CertCheckError and CertCheckFingerprint. False
    /// on any failure.
    [[nodiscard]] bool Connect() override;
    /// Server handshake on the socket's handle with the configured keys (a
    /// self-signed pair is made when none is set). False on any failure.
    [[nodiscard]] bool Accept() override;
    /// Sends one close notice (when TLS objects exist) and releases them; true.
    bool Shutdown() override;
    /// Sends the close notice and waits for the peer's, then releases; true.
    bool BiShutdown() override;
    /// Bytes written; 0 without error when the peer closed TLS; otherwise the
    /// SSL_write result with LastError the SSL_get_error class.
    int SendBuffer(const void* Buffer, int Len) override;
    /// Bytes read; 0 without error when the peer closed TLS; otherwise the
    /// SSL_read result with LastError the SSL_get_error class (WantRead when
    /// no application byte has arrived yet: the read never waits for one).
    /// A failure OpenSSL explains (an alert of the peer, say) has its text in
    /// LastErrorDesc, as a write's has.
    int RecvBuffer(void* Buffer, int Len) override;
    /// Decrypted bytes ready now; 0 without a connection.
    [[nodiscard]] int WaitingData() override;

    /// Protocol name of the connection ("TLSv1.3"); empty when idle.
    [[nodiscard]] std::string GetSSLVersion() override;
    /// Peer certificate's subject, "/"-separated; empty without one.
    [[nodiscard]] std::string GetPeerSubject() override;
    /// Peer certificate's serial number; -1 without one (or too large).
    [[nodiscard]] int GetPeerSerialNo() override;
    /// Peer certificate's issuer, "/"-separated; empty without one.
    [[nodiscard]] std::string GetPeerIssuer() override;
    /// The subject's first CN, trimmed; empty without one.
    [[nodiscard]] std::string GetPeerName() override;
    /// OpenSSL's hash of the peer's subject name; 0 without a certificate.
    [[nodiscard]] std::uint32_t GetPeerNameHash() override;
    /// MD5 digest of the peer certificate, 16 raw bytes; empty without one.
    [[nodiscard]] std::string GetPeerFingerprint() override;
    /// Printed form of the peer certificate with CR LF line ends; empty
    /// without one.
    [[nodiscard]] std::string GetCertInfo() override;
    /// Name of the negotiated cipher; empty when idle.
    [[nodiscard]] std::string GetCipherName() override;
    /// Secret bits of the negotiated cipher; 0 when idle.
    [[nodiscard]] int GetCipherBits() override;
    /// Algorithm bits of the negotiated cipher; 0 when idle.
    [[nodiscard]] int GetCipherAlgBits() override;
    /// Chain verification result, 0 = verified; 1 when idle.
    [[nodiscard]] int GetVerifyCert() override;

    /// Moves OpenSSL's oldest queued error into LastError/LastErrorDesc and
    /// empties the queue; true when there was none.
    [[nodiscard]] bool SSLCheck();
    /// Loads key, certificate and CA chain of a PKCS#12 blob (bytes), opened
    /// with KeyPassword, into the context; false when any part fails.
    [[nodiscard]] bool LoadPFX(const std::string& Data);
    /// Loads the configured certificate, key, CA file and PKCS#12 into the
    /// context; false at the first that fails, or without a context.
    [[nodiscard]] bool SetSslKeys();
    /// Makes the context and connection object for a client or server.
    [[nodiscard]] bool Init(bool Server);
    /// Releases the connection object and context; TLS is off. Returns true.
    bool DeInit();
    /// DeInit, then Init; on failure everything is released again.
    [[nodiscard]] bool Prepare(bool Server);

    /// What the connection's transport knows; owned here so that it outlives
    /// the OpenSSL objects that point at it. It reaches the handle through the
    /// socket at every call, never through a copy of its number: once the
    /// socket has let go of the handle, nothing more goes to that number.
    struct Transport {
        TTCPBlockSocket* Socket = nullptr;
        bool Eof = false;
        /// Reads take what has arrived and never wait.
        bool DontWait = false;
        /// errno of the last platform call (0 when it set none), taken while the
        /// handle was held.
        int Errno = 0;
    };

private:
    struct SslFree {
        void operator()(ssl_st* P) const noexcept;
    };
    struct CtxFree {
        void operator()(ssl_ctx_st* P) const noexcept;
    };

    /// SSLCheck for a step that failed; always false.
    [[nodiscard]] bool Failed();
    /// One SSL_write (Writing) or SSL_read with the retry and result rules of
    /// both; a want-write ends a write (WantWrite) and a want-read a read (WantRead).
    int Transfer(int Len, bool Writing, const std::function<int(ssl_st*)>& Call);
    [[nodiscard]] bool AttachHandle();
    [[nodiscard]] bool HandshakeWithTimeout(int Timeout);
    void AddClientNameExtension();
    /// With VerifyCert, makes the chain check also require CertHost's name or
    /// address in the certificate; false when OpenSSL refuses the text.
    [[nodiscard]] bool AddHostCheck();
    /// Failed for a handshake, adding the certificate check's reason when it
    /// was the check that failed.
    [[nodiscard]] bool HandshakeFailed();
    /// OpenSSL's check of the peer's chain (with the host check of
    /// AddHostCheck), remembering the certificate's digest and why it failed;
    /// a trusted digest passes. Called by OpenSSL with this plug-in as Self.
    static int CheckChain(x509_store_ctx_st* Store, void* Self);
    [[nodiscard]] bool LoadCertificateFile();
    [[nodiscard]] bool LoadPrivateKeyFile();
    [[nodiscard]] bool LoadPFXfile();

    std::unique_ptr<ssl_st, SslFree> FSsl;
    std::unique_ptr<ssl_ctx_st, CtxFree> Fctx;
    Transport FTransport;
};

/// Plug-in class of TSSLOpenSSL.
[[nodiscard]] std::unique_ptr<TCustomSSL> CreateSSLOpenSSL(TTCPBlockSocket& Value);

}  // namespace tandrel::net
