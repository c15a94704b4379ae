#include "net/CustomSSL.h"

namespace tandrel::net {

TCustomSSL::TCustomSSL(TTCPBlockSocket& Value) : FSocket(Value) {}

void TCustomSSL::SetCertCAFile(const std::string& Value) { FCertCAFile = Value; }

bool TCustomSSL::CreateSelfSignedCert(const std::string&) { return false; }

void TCustomSSL::Assign(const TCustomSSL& Value) {
    FUsername = Value.FUsername;
    FPassword = Value.FPassword;
    FVerifyCert = Value.FVerifyCert;
    FSSLType = Value.FSSLType;
    FKeyPassword = Value.FKeyPassword;
    FCiphers = Value.FCiphers;
    FCertificateFile = Value.FCertificateFile;
    FPrivateKeyFile = Value.FPrivateKeyFile;
    FCertCAFile = Value.FCertCAFile;
    FCertCA = Value.FCertCA;
    FTrustCertificate = Value.FTrustCertificate;
    FTrustCertificateFile = Value.FTrustCertificateFile;
    FCertificate = Value.FCertificate;
    FPrivateKey = Value.FPrivateKey;
    FPFX = Value.FPFX;
    FPFXfile = Value.FPFXfile;
    FCertComplianceLevel = Value.FCertComplianceLevel;
    FSNIHost = Value.FSNIHost;
    FCertHost = Value.FCertHost;
    FTrustedFingerprints = Value.FTrustedFingerprints;
}

std::string TCustomSSL::LibVersion() { return {}; }
std::string TCustomSSL::LibName() { return {}; }

bool TCustomSSL::Connect() {
    ReturnError();
    return false;
}

bool TCustomSSL::Accept() {
    ReturnError();
    return false;
}

bool TCustomSSL::Shutdown() {
    ReturnError();
    return false;
}

bool TCustomSSL::BiShutdown() {
    ReturnError();
    return false;
}

int TCustomSSL::SendBuffer(const void*, int) {
    ReturnError();
    return -1;
}

int TCustomSSL::RecvBuffer(void*, int) {
    ReturnError();
    return -1;
}

int TCustomSSL::WaitingData() {
    ReturnError();
    return 0;
}

std::string TCustomSSL::GetSSLVersion() { return {}; }
std::string TCustomSSL::GetPeerSubject() { return {}; }
int TCustomSSL::GetPeerSerialNo() { return -1; }
std::string TCustomSSL::GetPeerIssuer() { return {}; }
std::string TCustomSSL::GetPeerName() { return {}; }
std::uint32_t TCustomSSL::GetPeerNameHash() { return 0; }
std::string TCustomSSL::GetPeerFingerprint() { return {}; }
std::string TCustomSSL::GetCertInfo() { return {}; }
std::string TCustomSSL::GetCipherName() { return {}; }
int TCustomSSL::GetCipherBits() { return 0; }
int TCustomSSL::GetCipherAlgBits() { return 0; }
int TCustomSSL::GetVerifyCert() { return 1; }

void TCustomSSL::ReturnError() {
    FLastError = -1;
    FLastErrorDesc = "SSL/TLS support is not compiled!";
}

bool TCustomSSL::DoVerifyCert() { return FOnVerifyCert ? FOnVerifyCert(*this) : true; }

std::string TSSLNone::LibVersion() { return "Without SSL support"; }
std::string TSSLNone::LibName() { return "tls_none"; }

std::unique_ptr<TCustomSSL> CreateSSLNone(TTCPBlockSocket& Value) {
    return std::make_unique<TSSLNone>(Value);
}

}  // namespace tandrel::net
