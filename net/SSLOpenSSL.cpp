#include "net/SSLOpenSSL.h"

#include "net/TCPBlockSocket.h"
#include "net/detail/Native.h"
#include "support/AsciiText.h"
#include "support/Tick.h"

#include <openssl/bio.h>
#include <openssl/crypto.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pkcs12.h>
#include <openssl/rsa.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>
#include <fstream>
#include <iterator>
#include <utility>

namespace tandrel::net {

std::mutex SSLCS;

using namespace detail;

namespace {

std::atomic<bool> SSLloaded{false};

struct X509Free {
    void operator()(X509* P) const noexcept { X509_free(P); }
};
struct PKeyFree {
    void operator()(EVP_PKEY* P) const noexcept { EVP_PKEY_free(P); }
};
struct BioFree {
    void operator()(BIO* P) const noexcept { BIO_free_all(P); }
};
struct Pkcs12Free {
    void operator()(PKCS12* P) const noexcept { PKCS12_free(P); }
};
struct X509StackFree {
    void operator()(STACK_OF(X509) * P) const noexcept { sk_X509_pop_free(P, X509_free); }
};
struct BioMethodFree {
    void operator()(BIO_METHOD* P) const noexcept { BIO_meth_free(P); }
};
using X509Ptr = std::unique_ptr<X509, X509Free>;
using PKeyPtr = std::unique_ptr<EVP_PKEY, PKeyFree>;
using BioPtr = std::unique_ptr<BIO, BioFree>;
using Pkcs12Ptr = std::unique_ptr<PKCS12, Pkcs12Free>;
using X509StackPtr = std::unique_ptr<STACK_OF(X509), X509StackFree>;

// The connection's transport: the socket's own platform calls, made through
// its handle like every other call on it. OpenSSL's socket BIO would write with
// write(), which raises SIGPIPE and ends the program when the peer has gone;
// ours never does, so a dead peer becomes an ordinary write error.
using Transport = TSSLOpenSSL::Transport;

Transport& TransportOf(BIO* B) { return *static_cast<Transport*>(BIO_get_data(B)); }

bool ShouldRetry(int Err) noexcept {
    return Err == EAGAIN || Err == EWOULDBLOCK || Err == EINTR || Err == EINPROGRESS;
}

int TransportWrite(BIO* B, const char* Data, int Len) {
    BIO_clear_retry_flags(B);
    Transport& t = TransportOf(B);
    const THandleResult sent = t.Socket->UseHandle([&](int Handle) { return NativeSend(Handle, Data, Len); });
    t.Errno = sent.Errno;
    if (sent.Result < 0 && ShouldRetry(sent.Errno)) BIO_set_retry_write(B);
    return sent.Result;
}

int TransportRead(BIO* B, char* Data, int Len) {
    BIO_clear_retry_flags(B);
    if (Len <= 0) return 0;
    Transport& t = TransportOf(B);
    const THandleResult read = t.Socket->UseHandle([&](int Handle) {
        return t.DontWait ? NativeRecvArrived(Handle, Data, Len) : NativeRecv(Handle, Data, Len, false);
    });
    t.Errno = read.Errno;
    if (read.Result == 0)
        t.Eof = true;
    else if (read.Result < 0 && ShouldRetry(read.Errno))
        BIO_set_retry_read(B);
    return read.Result;
}

int TransportPuts(BIO* B, const char* Text) {
    return TransportWrite(B, Text, static_cast<int>(std::strlen(Text)));
}

long TransportCtrl(BIO* B, int Cmd, long, void* Ptr) {
    switch (Cmd) {
        case BIO_CTRL_FLUSH: return 1;
        case BIO_CTRL_EOF: return TransportOf(B).Eof ? 1 : 0;
        case BIO_C_GET_FD: {
            const int handle = TransportOf(B).Socket->Socket();
            if (Ptr != nullptr) *static_cast<int*>(Ptr) = handle;
            return handle;
        }
        default: return 0;
    }
}

int TransportCreate(BIO* B) {
    BIO_set_init(B, 1);
    return 1;
}

int TransportDestroy(BIO*) { return 1; }

const BIO_METHOD* TransportMethod() {
    static const std::unique_ptr<BIO_METHOD, BioMethodFree> method = [] {
        std::unique_ptr<BIO_METHOD, BioMethodFree> m(
            BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK | BIO_TYPE_DESCRIPTOR, "tandrel socket"));
        if (m) {
            BIO_meth_set_write(m.get(), TransportWrite);
            BIO_meth_set_read(m.get(), TransportRead);
            BIO_meth_set_puts(m.get(), TransportPuts);
            BIO_meth_set_ctrl(m.get(), TransportCtrl);
            BIO_meth_set_create(m.get(), TransportCreate);
            BIO_meth_set_destroy(m.get(), TransportDestroy);
        }
        return m;
    }();
    return method.get();
}

static_assert(TCustomSSL::WantRead == SSL_ERROR_WANT_READ);
static_assert(TCustomSSL::WantWrite == SSL_ERROR_WANT_WRITE);

// Hands KeyPassword to OpenSSL when it opens an encrypted key.
int PasswordCallback(char* Buf, int Size, int, void* Userdata) {
    if (Buf == nullptr || Size <= 0) return 0;
    if (Userdata == nullptr) {
        Buf[0] = '\0';
        return 0;
    }
    const std::string& password = static_cast<const TSSLOpenSSL*>(Userdata)->KeyPassword();
    const int n = std::min(static_cast<int>(password.size()), Size - 1);
    std::memcpy(Buf, password.data(), static_cast<std::size_t>(n));
    Buf[n] = '\0';
    return n;
}

// Protocol version a setting pins the context to; 0 = any; -1 = none this
// library can make.
int PinnedVersion(TSSLType Type) noexcept {
    switch (Type) {
        case TSSLType::LT_all: return 0;
        case TSSLType::LT_SSLv3: return SSL3_VERSION;
        case TSSLType::LT_TLSv1: return TLS1_VERSION;
        case TSSLType::LT_TLSv1_1: return TLS1_1_VERSION;
        case TSSLType::LT_TLSv1_2: return TLS1_2_VERSION;
        case TSSLType::LT_TLSv1_3: return TLS1_3_VERSION;
        case TSSLType::LT_SSLv2:
        case TSSLType::LT_SSHv2: break;
    }
    return -1;
}

std::string ReadAll(BIO* Bio) {
    std::string out;
    char buf[4096];
    int n;
    while ((n = BIO_read(Bio, buf, sizeof buf)) > 0) out.append(buf, static_cast<std::size_t>(n));
    return out;
}

std::string NameText(const X509_NAME* Name) {
    char buf[4096];
    const char* text = X509_NAME_oneline(Name, buf, sizeof buf);
    return text != nullptr ? std::string(text) : std::string();
}

// OpenSSL's oldest queued error and its text ("error:0A000086:SSL routines::..."),
// 0 and empty when none; the queue is emptied.
std::pair<unsigned long, std::string> TakeQueuedError() {
    const unsigned long err = ERR_get_error();
    ERR_clear_error();
    if (err == 0) return {0, {}};
    char buf[256] = {};
    ERR_error_string_n(err, buf, sizeof buf);
    return {err, buf};
}

// The SHA-256 digest of a certificate, 32 bytes; empty when there is none.
std::string Sha256(const X509* Cert) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    if (Cert == nullptr || X509_digest(Cert, EVP_sha256(), digest, &size) != 1) return {};
    return std::string(reinterpret_cast<const char*>(digest), size);
}

}  // namespace

bool InitSSLInterface() {
    if (SSLloaded.load(std::memory_order_acquire)) return true;
    const std::lock_guard<std::mutex> lock(SSLCS);
    if (!SSLloaded.load(std::memory_order_relaxed)) {
        if (OPENSSL_init_ssl(OPENSSL_INIT_LOAD_SSL_STRINGS | OPENSSL_INIT_LOAD_CRYPTO_STRINGS, nullptr) != 1)
            return false;
        SSLloaded.store(true, std::memory_order_release);
    }
    return true;
}

bool DestroySSLInterface() {
    // OPENSSL_cleanup would forbid any later use in this process; OpenSSL runs it
    // by itself at exit.
    const std::lock_guard<std::mutex> lock(SSLCS);
    SSLloaded.store(false, std::memory_order_release);
    return true;
}

bool IsSSLloaded() { return SSLloaded.load(std::memory_order_acquire); }

void TSSLOpenSSL::SslFree::operator()(ssl_st* P) const noexcept { SSL_free(P); }
void TSSLOpenSSL::CtxFree::operator()(ssl_ctx_st* P) const noexcept { SSL_CTX_free(P); }

TSSLOpenSSL::TSSLOpenSSL(TTCPBlockSocket& Value) : TCustomSSL(Value) { FCiphers = "DEFAULT"; }

TSSLOpenSSL::~TSSLOpenSSL() { DeInit(); }

std::string TSSLOpenSSL::LibName() { return "tls_openssl"; }

std::string TSSLOpenSSL::LibVersion() {
    if (!InitSSLInterface()) return {};
    return OpenSSL_version(OPENSSL_VERSION);
}

bool TSSLOpenSSL::SSLCheck() {
    auto [err, text] = TakeQueuedError();
    FLastError = static_cast<int>(err);
    FLastErrorDesc = std::move(text);
    return err == 0;
}

bool TSSLOpenSSL::Failed() {
    static_cast<void>(SSLCheck());
    return false;
}

bool TSSLOpenSSL::CreateSelfSignedCert(const std::string& Host) {
    if (!InitSSLInterface()) return false;
    // 2048 bits and SHA-256: OpenSSL's default security level refuses the
    // smaller key and SHA-1 signature on both ends of a handshake.
    PKeyPtr key(EVP_RSA_gen(2048));
    X509Ptr cert(X509_new());
    if (!key || !cert) return Failed();
    X509* x = cert.get();
    X509_set_version(x, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(x), 0);
    X509_gmtime_adj(X509_getm_notBefore(x), -86400);
    X509_gmtime_adj(X509_getm_notAfter(x), 5184000);
    X509_set_pubkey(x, key.get());
    X509_NAME* name = X509_get_subject_name(x);
    const auto text = [](const std::string& S) { return reinterpret_cast<const unsigned char*>(S.c_str()); };
    X509_NAME_add_entry_by_txt(name, "C", MBSTRING_ASC, text("CZ"), -1, -1, 0);
    // A host name longer than a common name may be (64) is left out rather
    // than leaving the server without a certificate.
    if (X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, text(Host), -1, -1, 0) != 1) ERR_clear_error();
    X509_set_issuer_name(x, name);
    if (X509_sign(x, key.get(), EVP_sha256()) <= 0) return Failed();

    const BioPtr certBio(BIO_new(BIO_s_mem()));
    const BioPtr keyBio(BIO_new(BIO_s_mem()));
    if (!certBio || !keyBio || i2d_X509_bio(certBio.get(), x) != 1 ||
        i2d_PrivateKey_bio(keyBio.get(), key.get()) != 1)
        return Failed();
    FCertificate = ReadAll(certBio.get());
    FPrivateKey = ReadAll(keyBio.get());
    return true;
}

bool TSSLOpenSSL::Init(bool Server) {
    if (!InitSSLInterface()) {
        FLastError = -1;
        FLastErrorDesc = "Error loading OpenSSL lib";
        return false;
    }
    // Errors left over from earlier calls on this thread must not be taken
    // for this handshake's.
    ERR_clear_error();
    FLastErrorDesc.clear();
    FLastError = 0;
    Fctx.reset();
    if (FSSLType == TSSLType::LT_SSHv2) return false;
    const int version = PinnedVersion(FSSLType);
    if (version < 0) {
        ERR_raise(ERR_LIB_SSL, SSL_R_UNSUPPORTED_PROTOCOL);
        return Failed();
    }
    Fctx.reset(SSL_CTX_new(TLS_method()));
    if (!Fctx) return Failed();
    SSL_CTX* ctx = Fctx.get();
    if (version > 0 && (SSL_CTX_set_min_proto_version(ctx, version) != 1 ||
                        SSL_CTX_set_max_proto_version(ctx, version) != 1))
        return Failed();
    SSL_CTX_set_cipher_list(ctx, FCiphers.c_str());
    SSL_CTX_set_verify(ctx, FVerifyCert ? SSL_VERIFY_PEER : SSL_VERIFY_NONE, nullptr);
    if (FVerifyCert) SSL_CTX_set_cert_verify_callback(ctx, CheckChain, this);
    SSL_CTX_set_default_passwd_cb(ctx, PasswordCallback);
    SSL_CTX_set_default_passwd_cb_userdata(ctx, this);
    if (Server && FCertificateFile.empty() && FCertificate.empty() && FPFXfile.empty() && FPFX.empty() &&
        !CreateSelfSignedCert(FSocket.ResolveIPToName(FSocket.GetRemoteSinIP())))
        return false;
    if (!SetSslKeys()) return false;
    FSsl.reset(SSL_new(ctx));
    if (!FSsl) return Failed();
    return true;
}

bool TSSLOpenSSL::DeInit() {
    FSsl.reset();
    Fctx.reset();
    FTransport = Transport{};
    FSSLEnabled = false;
    return true;
}

bool TSSLOpenSSL::Prepare(bool Server) {
    DeInit();
    if (Init(Server)) return true;
    DeInit();
    return false;
}

bool TSSLOpenSSL::LoadCertificateFile() {
    SSL_CTX* ctx = Fctx.get();
    const char* file = FCertificateFile.c_str();
    return SSL_CTX_use_certificate_chain_file(ctx, file) == 1 ||
           SSL_CTX_use_certificate_file(ctx, file, SSL_FILETYPE_PEM) == 1 ||
           SSL_CTX_use_certificate_file(ctx, file, SSL_FILETYPE_ASN1) == 1;
}

bool TSSLOpenSSL::LoadPrivateKeyFile() {
    SSL_CTX* ctx = Fctx.get();
    const char* file = FPrivateKeyFile.c_str();
    return SSL_CTX_use_PrivateKey_file(ctx, file, SSL_FILETYPE_PEM) == 1 ||
           SSL_CTX_use_PrivateKey_file(ctx, file, SSL_FILETYPE_ASN1) == 1;
}

bool TSSLOpenSSL::LoadPFXfile() {
    std::ifstream in(FPFXfile, std::ios::binary);
    if (!in) {
        ERR_raise_data(ERR_LIB_SYS, errno, "opening %s", FPFXfile.c_str());
        return false;
    }
    const std::string data{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    return LoadPFX(data);
}

bool TSSLOpenSSL::SetSslKeys() {
    if (!Fctx) return false;
    SSL_CTX* ctx = Fctx.get();
    const auto der = [](const std::string& S) { return reinterpret_cast<const unsigned char*>(S.data()); };
    const bool ok = [&] {
        if (!FCertificateFile.empty() && !LoadCertificateFile()) return false;
        if (!FCertificate.empty() &&
            SSL_CTX_use_certificate_ASN1(ctx, static_cast<int>(FCertificate.size()), der(FCertificate)) != 1)
            return false;
        static_cast<void>(SSLCheck());
        if (!FPrivateKeyFile.empty() && !LoadPrivateKeyFile()) return false;
        if (!FPrivateKey.empty() && SSL_CTX_use_PrivateKey_ASN1(EVP_PKEY_RSA, ctx, der(FPrivateKey),
                                                                static_cast<long>(FPrivateKey.size())) != 1)
            return false;
        static_cast<void>(SSLCheck());
        if (!FCertCAFile.empty() && SSL_CTX_load_verify_locations(ctx, FCertCAFile.c_str(), nullptr) != 1)
            return false;
        // A check without a CA file trusts the system's authorities; trusting none
        // would make a check that no server can ever pass.
        if (FCertCAFile.empty() && FVerifyCert && SSL_CTX_set_default_verify_paths(ctx) != 1) return false;
        if (!FPFXfile.empty() && !LoadPFXfile()) return false;
        return FPFX.empty() || LoadPFX(FPFX);
    }();
    static_cast<void>(SSLCheck());
    return ok;
}

bool TSSLOpenSSL::LoadPFX(const std::string& Data) {
    if (!Fctx) return false;
    const BioPtr bio(BIO_new_mem_buf(Data.data(), static_cast<int>(Data.size())));
    if (!bio) return false;
    const Pkcs12Ptr p12(d2i_PKCS12_bio(bio.get(), nullptr));
    if (!p12) return false;
    EVP_PKEY* rawKey = nullptr;
    X509* rawCert = nullptr;
    STACK_OF(X509)* rawChain = nullptr;
    const int parsed = PKCS12_parse(p12.get(), FKeyPassword.c_str(), &rawKey, &rawCert, &rawChain);
    const PKeyPtr key(rawKey);
    const X509Ptr cert(rawCert);
    X509StackPtr chain(rawChain);
    if (parsed <= 0 || !cert || !key || SSL_CTX_use_certificate(Fctx.get(), cert.get()) <= 0 ||
        SSL_CTX_use_PrivateKey(Fctx.get(), key.get()) <= 0)
        return false;
    // The context takes the chain over; without this the chain would leak.
    if (chain && sk_X509_num(chain.get()) > 0 && SSL_CTX_set0_chain(Fctx.get(), chain.get()) == 1)
        static_cast<void>(chain.release());
    return true;
}

bool TSSLOpenSSL::AttachHandle() {
    const BIO_METHOD* method = TransportMethod();
    BIO* bio = method != nullptr ? BIO_new(method) : nullptr;
    if (bio == nullptr) return false;
    FTransport = Transport{&FSocket, false, false};
    BIO_set_data(bio, &FTransport);
    // One reference, taken over by the connection for both directions.
    SSL_set_bio(FSsl.get(), bio, bio);
    return true;
}

void TSSLOpenSSL::AddClientNameExtension() {
    if (!FSNIHost.empty()) SSL_set_tlsext_host_name(FSsl.get(), FSNIHost.c_str());
}

bool TSSLOpenSSL::AddHostCheck() {
    if (!FVerifyCert || FCertHost.empty()) return true;
    X509_VERIFY_PARAM* param = SSL_get0_param(FSsl.get());
    X509_VERIFY_PARAM_set_hostflags(param, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
    // An address must be among the certificate's IP entries, a name among its
    // DNS entries (or its CN when it has none).
    if (X509_VERIFY_PARAM_set1_ip_asc(param, FCertHost.c_str()) == 1) return true;
    ERR_clear_error();
    return X509_VERIFY_PARAM_set1_host(param, FCertHost.c_str(), FCertHost.size()) == 1;
}

bool TSSLOpenSSL::HandshakeFailed() {
    static_cast<void>(SSLCheck());
    // OpenSSL's queue only says "certificate verify failed"; the check's own
    // result says why (untrusted issuer, expired, another host's name...).
    const long verify = SSL_get_verify_result(FSsl.get());
    if (FVerifyCert && verify != X509_V_OK) {
        if (!FLastErrorDesc.empty()) FLastErrorDesc += ": ";
        FLastErrorDesc += X509_verify_cert_error_string(verify);
    }
    return false;
}

int TSSLOpenSSL::CheckChain(X509_STORE_CTX* Store, void* Self) {
    TSSLOpenSSL& ssl = *static_cast<TSSLOpenSSL*>(Self);
    ssl.FCertCheckFingerprint = Sha256(X509_STORE_CTX_get0_cert(Store));
    if (X509_verify_cert(Store) == 1) return 1;
    const auto& trusted = ssl.FTrustedFingerprints;
    if (!ssl.FCertCheckFingerprint.empty() &&
        std::find(trusted.begin(), trusted.end(), ssl.FCertCheckFingerprint) != trusted.end()) {
        // The handshake's verify result is read from here: the trusted certificate is verified.
        X509_STORE_CTX_set_error(Store, X509_V_OK);
        return 1;
    }
    int error = X509_STORE_CTX_get_error(Store);
    if (error == X509_V_OK)
        error = X509_V_ERR_UNSPECIFIED;  // a failure OpenSSL did not name must not pass as none
    X509_STORE_CTX_set_error(Store, error);
    ssl.FCertCheckError = X509_verify_cert_error_string(error);
    return 0;
}

bool TSSLOpenSSL::HandshakeWithTimeout(int Timeout) {
    const bool wasNonBlocking = FSocket.NonBlockMode();
    FSocket.SetNonBlockMode(true);
    // The limit holds for the whole handshake, not for each wait: a peer that
    // hands out its part a few bytes at a time gains nothing.
    const std::uint32_t start = support::GetTick();
    int err;
    for (;;) {
        ERR_clear_error();
        const int r = SSL_connect(FSsl.get());
        err = SSL_get_error(FSsl.get(), r);
        if (err != SSL_ERROR_WANT_READ && err != SSL_ERROR_WANT_WRITE) break;
        const int left = Timeout - static_cast<int>(support::TickDelta(start, support::GetTick()));
        if (left <= 0 || !(err == SSL_ERROR_WANT_READ ? FSocket.CanRead(left) : FSocket.CanWrite(left)))
            break;
    }
    FSocket.SetNonBlockMode(wasNonBlocking);
    return err == SSL_ERROR_NONE;
}

bool TSSLOpenSSL::Connect() {
    FCertCheckError.clear();
    FCertCheckFingerprint.clear();
    if (FSocket.Socket() == -1) return false;
    if (!Prepare(false)) return false;
    if (!AttachHandle() || !AddHostCheck()) return Failed();
    AddClientNameExtension();
    const int timeout = FSocket.ConnectionTimeout();
    const bool handshaken = timeout <= 0 ? SSL_connect(FSsl.get()) >= 1 : HandshakeWithTimeout(timeout);
    if (!handshaken) return HandshakeFailed();
    if (!FVerifyCert || (GetVerifyCert() == X509_V_OK && DoVerifyCert())) {
        FSSLEnabled = true;
        return true;
    }
    return false;
}

bool TSSLOpenSSL::Accept() {
    if (FSocket.Socket() == -1) return false;
    if (!Prepare(true)) return false;
    if (AttachHandle() && SSL_accept(FSsl.get()) > 0) {
        FSSLEnabled = true;
        return true;
    }
    return Failed();
}

bool TSSLOpenSSL::Shutdown() {
    if (FSsl) {
        SSL_shutdown(FSsl.get());
        ERR_clear_error();
    }
    DeInit();
    return true;
}

bool TSSLOpenSSL::BiShutdown() {
    if (FSsl && SSL_shutdown(FSsl.get()) == 0) {
        static_cast<void>(FSocket.UseHandle([](int Handle) { return NativeShutdownSend(Handle); }));
        SSL_shutdown(FSsl.get());
    }
    ERR_clear_error();
    DeInit();
    return true;
}

int TSSLOpenSSL::Transfer(int Len, bool Writing, const std::function<int(ssl_st*)>& Call) {
    FLastError = 0;
    FLastErrorDesc.clear();
    if (!FSsl) {
        FLastError = SSL_ERROR_SSL;
        return -1;
    }
    if (Len <= 0) return 0;
    int r;
    int err;
    // A read that finds no application byte, and a write the platform gave up
    // on (its send time-out, or a handle in non-blocking mode), go back to the
    // socket, which decides how long to wait. The other way round a want-read or
    // want-write is retried at once: it only means OpenSSL handled a record of
    // its own.
    do {
        ERR_clear_error();
        FTransport.Errno = 0;
        r = Call(FSsl.get());
        err = SSL_get_error(FSsl.get(), r);
        if (err == (Writing ? SSL_ERROR_WANT_WRITE : SSL_ERROR_WANT_READ)) {
            FLastError = Writing ? WantWrite : WantRead;
            return -1;
        }
    } while (err == SSL_ERROR_WANT_READ || err == SSL_ERROR_WANT_WRITE);
    if (err == SSL_ERROR_NONE) return r;
    if (err == SSL_ERROR_ZERO_RETURN) return 0;
    FLastError = err;
    // The peer's alert after a handshake that seemed done (a TLS 1.3 server that
    // wants a client certificate) is known only here: say what OpenSSL says.
    FLastErrorDesc = TakeQueuedError().second;
    if (FLastErrorDesc.empty() && err == SSL_ERROR_SYSCALL && FTransport.Errno != 0)
        FLastErrorDesc = std::strerror(FTransport.Errno);
    return r;
}

int TSSLOpenSSL::SendBuffer(const void* Buffer, int Len) {
    return Transfer(Len, /*Writing=*/true, [&](SSL* Ssl) { return SSL_write(Ssl, Buffer, Len); });
}

int TSSLOpenSSL::RecvBuffer(void* Buffer, int Len) {
    // Only what has arrived is read: session tickets or half a record must not
    // hold the read in the platform's wait, past the socket's time-out. The
    // socket waits for the rest itself.
    FTransport.DontWait = true;
    const int r = Transfer(Len, /*Writing=*/false, [&](SSL* Ssl) { return SSL_read(Ssl, Buffer, Len); });
    FTransport.DontWait = false;
    return r;
}

int TSSLOpenSSL::WaitingData() { return FSsl ? SSL_pending(FSsl.get()) : 0; }

std::string TSSLOpenSSL::GetSSLVersion() { return FSsl ? SSL_get_version(FSsl.get()) : std::string(); }

namespace {

X509Ptr PeerCertificate(SSL* Ssl) {
    return X509Ptr(Ssl != nullptr ? SSL_get1_peer_certificate(Ssl) : nullptr);
}

}  // namespace

std::string TSSLOpenSSL::GetPeerSubject() {
    const X509Ptr cert = PeerCertificate(FSsl.get());
    return cert ? NameText(X509_get_subject_name(cert.get())) : std::string();
}

std::string TSSLOpenSSL::GetPeerIssuer() {
    const X509Ptr cert = PeerCertificate(FSsl.get());
    return cert ? NameText(X509_get_issuer_name(cert.get())) : std::string();
}

std::string TSSLOpenSSL::GetPeerName() {
    const std::string subject = GetPeerSubject();
    const std::size_t start = subject.find("/CN=");
    if (start == std::string::npos) return {};
    const std::string rest = subject.substr(start + 4);
    return std::string(support::TrimBlank(rest.substr(0, rest.find('/'))));
}

std::uint32_t TSSLOpenSSL::GetPeerNameHash() {
    const X509Ptr cert = PeerCertificate(FSsl.get());
    if (!cert) return 0;
    int ok = 0;
    const unsigned long hash = X509_NAME_hash_ex(X509_get_subject_name(cert.get()), nullptr, nullptr, &ok);
    return ok == 1 ? static_cast<std::uint32_t>(hash) : 0;
}

int TSSLOpenSSL::GetPeerSerialNo() {
    const X509Ptr cert = PeerCertificate(FSsl.get());
    if (!cert) return -1;
    const long serial = ASN1_INTEGER_get(X509_get0_serialNumber(cert.get()));
    // A serial beyond the int range would come out truncated: say "unknown".
    return serial >= INT_MIN && serial <= INT_MAX ? static_cast<int>(serial) : -1;
}

std::string TSSLOpenSSL::GetPeerFingerprint() {
    const X509Ptr cert = PeerCertificate(FSsl.get());
    const EVP_MD* md5 = EVP_get_digestbyname("MD5");
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    if (!cert || md5 == nullptr || X509_digest(cert.get(), md5, digest, &size) != 1) return {};
    return std::string(reinterpret_cast<const char*>(digest), size);
}

std::string TSSLOpenSSL::GetCertInfo() {
    const X509Ptr cert = PeerCertificate(FSsl.get());
    const BioPtr bio(BIO_new(BIO_s_mem()));
    if (!cert || !bio || X509_print(bio.get(), cert.get()) != 1) return {};
    const std::string text = ReadAll(bio.get());
    std::string out;
    out.reserve(text.size() + text.size() / 32);
    for (const char c : text) {
        if (c == '\n') out += '\r';
        out += c;
    }
    return out;
}

std::string TSSLOpenSSL::GetCipherName() {
    const SSL_CIPHER* cipher = FSsl ? SSL_get_current_cipher(FSsl.get()) : nullptr;
    return cipher != nullptr ? SSL_CIPHER_get_name(cipher) : std::string();
}

int TSSLOpenSSL::GetCipherBits() {
    const SSL_CIPHER* cipher = FSsl ? SSL_get_current_cipher(FSsl.get()) : nullptr;
    return cipher != nullptr ? SSL_CIPHER_get_bits(cipher, nullptr) : 0;
}

int TSSLOpenSSL::GetCipherAlgBits() {
    const SSL_CIPHER* cipher = FSsl ? SSL_get_current_cipher(FSsl.get()) : nullptr;
    int bits = 0;
    if (cipher != nullptr) SSL_CIPHER_get_bits(cipher, &bits);
    return bits;
}

int TSSLOpenSSL::GetVerifyCert() { return FSsl ? static_cast<int>(SSL_get_verify_result(FSsl.get())) : 1; }

std::unique_ptr<TCustomSSL> CreateSSLOpenSSL(TTCPBlockSocket& Value) {
    return std::make_unique<TSSLOpenSSL>(Value);
}

}  // namespace tandrel::net
