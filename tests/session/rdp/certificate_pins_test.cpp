#include <gtest/gtest.h>

#include "rdp_test_support.h"
#include "session/rdp/certificate_pins.h"
#include "session/rdp/freerdp_control.h"

namespace tclink::rdp {
namespace {

// A self-signed certificate and the fingerprint `openssl x509 -fingerprint -sha256` gives it,
// as an administrator would take it for the build setting.
const QByteArray certificate = "-----BEGIN CERTIFICATE-----\n"
                               "MIIBgDCCASegAwIBAgIUYEEGrCyYcjxGAQOnHph+3RBB83cwCgYIKoZIzj0EAwIw\n"
                               "FjEUMBIGA1UEAwwLdGNsaW5rLXRlc3QwHhcNMjYxMjA5MDM0NTM5WhcNMzYxMjA2\n"
                               "MDM0NTM5WjAWMRQwEgYDVQQDDAt0Y2xpbmstdGVzdDBZMBMGByqGSM49AgEGCCqG\n"
                               "SM49AwEHA0IABDKn6ZSLTwycI1icZGtqyqcA6gRKGcobgzKRpCcfhalub2kvE6Q6\n"
                               "O+RuVRnPdMdiwumJjKjXc/kY8FqedVe4zaSjUzBRMB0GA1UdDgQWBBT+m0yu8L/W\n"
                               "Gls5QWogv4x3drO0UDAfBgNVHSMEGDAWgBT+m0yu8L/WGls5QWogv4x3drO0UDAP\n"
                               "BgNVHRMBAf8EBTADAQH/MAoGCCqGSM49BAMCA0cAMEQCIDoq8eG4BbdVSVXsMePb\n"
                               "dVbpB80MAF2LhN9akkkIoSO4AiAH0pXxgzdlj3sQOcgivk3NkJdOyLOTcikThxab\n"
                               "D1ZF1Q==\n"
                               "-----END CERTIFICATE-----\n";
const QString opensslFingerprint =
    QStringLiteral("9C:7E:18:10:51:0B:D1:E2:A4:EA:D0:14:42:D0:39:D0:71:16:DC:EB:AB:A7:90:9B:F2:CB:"
                   "4E:17:F6:26:C2:F8");

TEST(CertificatePins, TheFingerprintIsOpenSslsAndReadsBackInEveryForm)
{
    const QByteArray fingerprint = certificateFingerprint(certificate);
    EXPECT_EQ(fingerprintText(fingerprint), opensslFingerprint);
    const QString plain = QString(opensslFingerprint).remove(':').toLower();
    const auto pins = parseCertificatePins(opensslFingerprint + ", " + plain + " ;\n" + plain);
    ASSERT_TRUE(pins);
    EXPECT_EQ(*pins, std::vector<QByteArray>(3, fingerprint));
    EXPECT_TRUE(parseCertificatePins(QString())->empty()); // no pins: any certificate
}

TEST(CertificatePins, WhatIsNoFingerprintIsRefused)
{
    EXPECT_FALSE(parseCertificatePins(opensslFingerprint.chopped(3))); // 31 bytes
    EXPECT_FALSE(parseCertificatePins(opensslFingerprint + "00"));
    EXPECT_FALSE(parseCertificatePins(QString(opensslFingerprint).replace('C', 'G')));
    EXPECT_TRUE(certificateFingerprint("no certificate").isEmpty());
    EXPECT_TRUE(certificateFingerprint("-----BEGIN CERTIFICATE-----\n@@@\n"
                                       "-----END CERTIFICATE-----\n")
                    .isEmpty());
}

// This test program is built with two pins (tests/session/rdp/CMakeLists.txt): every control
// takes them, and a server whose certificate has neither is refused.
TEST(CertificatePins, TheBuildsPinsHoldForEveryControl)
{
    EXPECT_EQ(builtInCertificatePins(),
              std::vector<QByteArray>({certificateFingerprint(certificate), QByteArray(32, '\0')}));
    if (!test::DemoServer::available())
        GTEST_SKIP() << "tclink-demo-server not built";
    test::DemoServer server;
    ASSERT_TRUE(server.start(QStringLiteral("127.0.0.1:7311")));
    FreeRdpControl control;
    test::logInTo(control, QStringLiteral("127.0.0.1"), 7311);
    test::EventLog log(control);
    control.Connect();
    ASSERT_TRUE(log.waitFor("OnDisconnected", 10000)) << log.names.join(',').toStdString();
    EXPECT_EQ(log.reason, ReasonServerCertificateRefused);
    EXPECT_TRUE(server.events("login").isEmpty());
}

} // namespace
} // namespace tclink::rdp
