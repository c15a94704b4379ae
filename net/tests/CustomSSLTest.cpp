#include "net/CustomSSL.h"
#include "net/TCPBlockSocket.h"

#include <gtest/gtest.h>

namespace tandrel::net {
namespace {

constexpr const char* NotCompiled = "SSL/TLS support is not compiled!";

TEST(CustomSSL, PluginWithoutTLSFailsEveryOperationWithItsText) {
    TTCPBlockSocket socket(&CreateSSLNone);
    TCustomSSL& ssl = socket.SSL();
    EXPECT_EQ(&ssl.Socket(), &socket);
    EXPECT_FALSE(ssl.Connect());
    EXPECT_EQ(ssl.LastError(), -1);
    EXPECT_EQ(ssl.LastErrorDesc(), NotCompiled);
    EXPECT_FALSE(ssl.Accept());
    EXPECT_FALSE(ssl.Shutdown());
    EXPECT_FALSE(ssl.BiShutdown());
    char buffer[4] = {};
    EXPECT_EQ(ssl.SendBuffer(buffer, 4), -1);
    EXPECT_EQ(ssl.RecvBuffer(buffer, 4), -1);
    EXPECT_EQ(ssl.WaitingData(), 0);
    EXPECT_FALSE(ssl.SSLEnabled());
}

TEST(CustomSSL, PluginWithoutTLSAnswersQueriesWithNeutralValues) {
    TTCPBlockSocket socket(&CreateSSLNone);
    TCustomSSL& ssl = socket.SSL();
    EXPECT_EQ(ssl.LibName(), "tls_none");
    EXPECT_EQ(ssl.LibVersion(), "Without SSL support");
    EXPECT_EQ(ssl.GetSSLVersion(), "");
    EXPECT_EQ(ssl.GetPeerSubject(), "");
    EXPECT_EQ(ssl.GetPeerIssuer(), "");
    EXPECT_EQ(ssl.GetPeerName(), "");
    EXPECT_EQ(ssl.GetPeerFingerprint(), "");
    EXPECT_EQ(ssl.GetCertInfo(), "");
    EXPECT_EQ(ssl.GetCipherName(), "");
    EXPECT_EQ(ssl.GetPeerSerialNo(), -1);
    EXPECT_EQ(ssl.GetPeerNameHash(), 0u);
    EXPECT_EQ(ssl.GetCipherBits(), 0);
    EXPECT_EQ(ssl.GetCipherAlgBits(), 0);
    EXPECT_EQ(ssl.GetVerifyCert(), 1);
    EXPECT_FALSE(ssl.CreateSelfSignedCert("host"));
    EXPECT_EQ(ssl.LastError(), 0);  // queries record nothing
}

TEST(CustomSSL, StartValues) {
    TTCPBlockSocket socket(&CreateSSLNone);
    const TCustomSSL& ssl = socket.SSL();
    EXPECT_EQ(ssl.SSLType(), TSSLType::LT_all);
    EXPECT_FALSE(ssl.VerifyCert());
    EXPECT_EQ(ssl.CertComplianceLevel(), -1);
    EXPECT_EQ(ssl.SNIHost(), "");
    EXPECT_EQ(ssl.CertHost(), "");
    EXPECT_EQ(ssl.Ciphers(), "");
}

TEST(CustomSSL, VerifyHookDecidesWhenSet) {
    TTCPBlockSocket socket(&CreateSSLNone);
    TCustomSSL& ssl = socket.SSL();
    EXPECT_TRUE(ssl.DoVerifyCert());
    ssl.SetOnVerifyCert([](TCustomSSL&) { return false; });
    EXPECT_FALSE(ssl.DoVerifyCert());
}

TEST(CustomSSL, AssignCopiesSettingsOnly) {
    TTCPBlockSocket from(&CreateSSLNone);
    TTCPBlockSocket to(&CreateSSLNone);
    TCustomSSL& source = from.SSL();
    source.SetUsername("u");
    source.SetPassword("p");
    source.SetVerifyCert(true);
    source.SetSSLType(TSSLType::LT_TLSv1_2);
    source.SetKeyPassword("k");
    source.SetCiphers("HIGH");
    source.SetCertificateFile("c.pem");
    source.SetPrivateKeyFile("k.pem");
    source.SetCertCAFile("ca.pem");
    source.SetCertCA("CA");
    source.SetTrustCertificate("T");
    source.SetTrustCertificateFile("t.pem");
    source.SetCertificate("C");
    source.SetPrivateKey("K");
    source.SetPFX("X");
    source.SetPFXfile("x.pfx");
    source.SetCertComplianceLevel(3);
    source.SetSNIHost("mail.example");
    source.SetCertHost("192.0.2.7");
    source.SetSSHChannelType("session");
    source.SetOnVerifyCert([](TCustomSSL&) { return false; });
    static_cast<void>(source.Connect());  // leaves an error behind

    TCustomSSL& target = to.SSL();
    target.Assign(source);
    EXPECT_EQ(target.Username(), "u");
    EXPECT_EQ(target.Password(), "p");
    EXPECT_TRUE(target.VerifyCert());
    EXPECT_EQ(target.SSLType(), TSSLType::LT_TLSv1_2);
    EXPECT_EQ(target.KeyPassword(), "k");
    EXPECT_EQ(target.Ciphers(), "HIGH");
    EXPECT_EQ(target.CertificateFile(), "c.pem");
    EXPECT_EQ(target.PrivateKeyFile(), "k.pem");
    EXPECT_EQ(target.CertCAFile(), "ca.pem");
    EXPECT_EQ(target.CertCA(), "CA");
    EXPECT_EQ(target.TrustCertificate(), "T");
    EXPECT_EQ(target.TrustCertificateFile(), "t.pem");
    EXPECT_EQ(target.Certificate(), "C");
    EXPECT_EQ(target.PrivateKey(), "K");
    EXPECT_EQ(target.PFX(), "X");
    EXPECT_EQ(target.PFXfile(), "x.pfx");
    EXPECT_EQ(target.CertComplianceLevel(), 3);
    EXPECT_EQ(target.SNIHost(), "mail.example");
    EXPECT_EQ(target.CertHost(), "192.0.2.7");
    // Not copied: SSH settings, the hook, the socket and the error.
    EXPECT_EQ(target.SSHChannelType(), "");
    EXPECT_TRUE(target.DoVerifyCert());
    EXPECT_EQ(&target.Socket(), &to);
    EXPECT_EQ(target.LastError(), 0);
}

TEST(CustomSSL, SocketMadeWithAFactoryOwnsWhatItMakes) {
    static int made = 0;
    TTCPBlockSocket socket([](TTCPBlockSocket& Owner) -> std::unique_ptr<TCustomSSL> {
        ++made;
        return std::make_unique<TSSLNone>(Owner);
    });
    EXPECT_EQ(made, 1);
    EXPECT_EQ(socket.SSL().LibName(), "tls_none");
}

}  // namespace
}  // namespace tandrel::net
