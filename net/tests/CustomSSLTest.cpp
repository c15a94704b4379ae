#include "net/CustomSSL.h"

#include <gtest/gtest.h>

#include "net/TCPBlockSocket.h"

namespace tandrel::net {
namespace {

constexpr const char* NotCompiled = "SSL/TLS support is not compiled!";

TEST(CustomSSL, PluginWithoutTLSFailsEveryOperationWithItsText) {
  TTCPBlockSocket Socket(&CreateSSLNone);
  TCustomSSL& SSL = Socket.SSL();
  EXPECT_EQ(&SSL.Socket(), &Socket);
  EXPECT_FALSE(SSL.Connect());
  EXPECT_EQ(SSL.LastError(), -1);
  EXPECT_EQ(SSL.LastErrorDesc(), NotCompiled);
  EXPECT_FALSE(SSL.Accept());
  EXPECT_FALSE(SSL.Shutdown());
  EXPECT_FALSE(SSL.BiShutdown());
  char Buffer[4] = {};
  EXPECT_EQ(SSL.SendBuffer(Buffer, 4), -1);
  EXPECT_EQ(SSL.RecvBuffer(Buffer, 4), -1);
  EXPECT_EQ(SSL.WaitingData(), 0);
  EXPECT_FALSE(SSL.SSLEnabled());
}

TEST(CustomSSL, PluginWithoutTLSAnswersQueriesWithNeutralValues) {
  TTCPBlockSocket Socket(&CreateSSLNone);
  TCustomSSL& SSL = Socket.SSL();
  EXPECT_EQ(SSL.LibName(), "tls_none");
  EXPECT_EQ(SSL.LibVersion(), "Without SSL support");
  EXPECT_EQ(SSL.GetSSLVersion(), "");
  EXPECT_EQ(SSL.GetPeerSubject(), "");
  EXPECT_EQ(SSL.GetPeerIssuer(), "");
  EXPECT_EQ(SSL.GetPeerName(), "");
  EXPECT_EQ(SSL.GetPeerFingerprint(), "");
  EXPECT_EQ(SSL.GetCertInfo(), "");
  EXPECT_EQ(SSL.GetCipherName(), "");
  EXPECT_EQ(SSL.GetPeerSerialNo(), -1);
  EXPECT_EQ(SSL.GetPeerNameHash(), 0u);
  EXPECT_EQ(SSL.GetCipherBits(), 0);
  EXPECT_EQ(SSL.GetCipherAlgBits(), 0);
  EXPECT_EQ(SSL.GetVerifyCert(), 1);
  EXPECT_FALSE(SSL.CreateSelfSignedCert("host"));
  EXPECT_EQ(SSL.LastError(), 0);  // queries record nothing
}

TEST(CustomSSL, StartValues) {
  TTCPBlockSocket Socket(&CreateSSLNone);
  const TCustomSSL& SSL = Socket.SSL();
  EXPECT_EQ(SSL.SSLType(), TSSLType::LT_all);
  EXPECT_FALSE(SSL.VerifyCert());
  EXPECT_EQ(SSL.CertComplianceLevel(), -1);
  EXPECT_EQ(SSL.SNIHost(), "");
  EXPECT_EQ(SSL.CertHost(), "");
  EXPECT_EQ(SSL.Ciphers(), "");
}

TEST(CustomSSL, VerifyHookDecidesWhenSet) {
  TTCPBlockSocket Socket(&CreateSSLNone);
  TCustomSSL& SSL = Socket.SSL();
  EXPECT_TRUE(SSL.DoVerifyCert());
  SSL.SetOnVerifyCert([](TCustomSSL&) { return false; });
  EXPECT_FALSE(SSL.DoVerifyCert());
}

TEST(CustomSSL, AssignCopiesSettingsOnly) {
  TTCPBlockSocket From(&CreateSSLNone);
  TTCPBlockSocket To(&CreateSSLNone);
  TCustomSSL& Source = From.SSL();
  Source.SetUsername("u");
  Source.SetPassword("p");
  Source.SetVerifyCert(true);
  Source.SetSSLType(TSSLType::LT_TLSv1_2);
  Source.SetKeyPassword("k");
  Source.SetCiphers("HIGH");
  Source.SetCertificateFile("c.pem");
  Source.SetPrivateKeyFile("k.pem");
  Source.SetCertCAFile("ca.pem");
  Source.SetCertCA("CA");
  Source.SetTrustCertificate("T");
  Source.SetTrustCertificateFile("t.pem");
  Source.SetCertificate("C");
  Source.SetPrivateKey("K");
  Source.SetPFX("X");
  Source.SetPFXfile("x.pfx");
  Source.SetCertComplianceLevel(3);
  Source.SetSNIHost("mail.example");
  Source.SetCertHost("192.0.2.7");
  Source.SetSSHChannelType("session");
  Source.SetOnVerifyCert([](TCustomSSL&) { return false; });
  static_cast<void>(Source.Connect());  // leaves an error behind

  TCustomSSL& Target = To.SSL();
  Target.Assign(Source);
  EXPECT_EQ(Target.Username(), "u");
  EXPECT_EQ(Target.Password(), "p");
  EXPECT_TRUE(Target.VerifyCert());
  EXPECT_EQ(Target.SSLType(), TSSLType::LT_TLSv1_2);
  EXPECT_EQ(Target.KeyPassword(), "k");
  EXPECT_EQ(Target.Ciphers(), "HIGH");
  EXPECT_EQ(Target.CertificateFile(), "c.pem");
  EXPECT_EQ(Target.PrivateKeyFile(), "k.pem");
  EXPECT_EQ(Target.CertCAFile(), "ca.pem");
  EXPECT_EQ(Target.CertCA(), "CA");
  EXPECT_EQ(Target.TrustCertificate(), "T");
  EXPECT_EQ(Target.TrustCertificateFile(), "t.pem");
  EXPECT_EQ(Target.Certificate(), "C");
  EXPECT_EQ(Target.PrivateKey(), "K");
  EXPECT_EQ(Target.PFX(), "X");
  EXPECT_EQ(Target.PFXfile(), "x.pfx");
  EXPECT_EQ(Target.CertComplianceLevel(), 3);
  EXPECT_EQ(Target.SNIHost(), "mail.example");
  EXPECT_EQ(Target.CertHost(), "192.0.2.7");
  // Not copied: SSH settings, the hook, the socket and the error.
  EXPECT_EQ(Target.SSHChannelType(), "");
  EXPECT_TRUE(Target.DoVerifyCert());
  EXPECT_EQ(&Target.Socket(), &To);
  EXPECT_EQ(Target.LastError(), 0);
}

TEST(CustomSSL, SocketMadeWithAFactoryOwnsWhatItMakes) {
  static int Made = 0;
  TTCPBlockSocket Socket([](TTCPBlockSocket& Owner) -> std::unique_ptr<TCustomSSL> {
    ++Made;
    return std::make_unique<TSSLNone>(Owner);
  });
  EXPECT_EQ(Made, 1);
  EXPECT_EQ(Socket.SSL().LibName(), "tls_none");
}

}  // namespace
}  // namespace tandrel::net
