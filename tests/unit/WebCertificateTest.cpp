// The console's certificate: made once with the key private, read back by
// openssl as an ECDSA P-256 certificate for ten years naming the unit, kept
// across starts, and made anew when the pair on file is damaged, mismatched
// or about to expire. (The fingerprint shown is the one openssl computes of
// the certificate served: WebConsoleRun.TheCertificateServed….)
#include "RootedWorks.h"

#include "web/Certificate.h"

#include <sys/stat.h>
#include <unistd.h>

namespace {

class WebCertificate : public RootedWorks {
  protected:
    std::string keyPath() const { return dir.path + "/opt/set/web-key.pem"; }
    std::string certPath() const { return dir.path + "/opt/set/web-cert.pem"; }
    std::string print() const { return w->webFingerprint.get().s; }
    // openssl's own reading of the file.
    std::string openssl(const std::string& args) const {
        return CommandOutput("openssl " + args + " 2>&1");
    }
};

TEST_F(WebCertificate, FirstStartMakesAPrivateTenYearPairForTheUnitAndTheNextKeepsIt) {
    ASSERT_TRUE(LoadWebCertificate(w.get()));
    EXPECT_EQ(FileMode(keyPath()), 0600);
    const std::string text = openssl("x509 -noout -text -in " + certPath());
    char host[64] = {};
    gethostname(host, sizeof host - 1);
    for (const std::string& part : std::vector<std::string>{
             "ecdsa-with-SHA256", "NIST CURVE: P-256", std::string("Subject: CN = ") + host,
             std::string("DNS:") + host, "IP Address:127.0.0.1", "TLS Web Server Authentication"})
        EXPECT_TRUE(Contains(text, part)) << part << "\n" << text;
    // Ten years: still valid in 3650 days, no longer in 3660.
    EXPECT_TRUE(Contains(openssl("x509 -noout -checkend " + std::to_string(3650 * 86400) + " -in " + certPath()),
                         "will not expire"));
    EXPECT_TRUE(Contains(openssl("x509 -noout -checkend " + std::to_string(3660 * 86400) + " -in " + certPath()),
                         "will expire"));
    // The key is the certificate's, and openssl reads it as P-256.
    EXPECT_EQ(openssl("pkey -pubout -in " + keyPath()),
              openssl("x509 -noout -pubkey -in " + certPath()));
    // The key never reaches the log.
    const std::string key = ReadFile(keyPath());
    const std::string log = syslog();
    EXPECT_TRUE(Contains(log, "web: new certificate (none yet before), SHA-256 " + print())) << log;
    EXPECT_FALSE(Contains(log, key.substr(40, 40)));

    // The next start keeps the pair, and a key left open is made private.
    const std::string first = print(), cert = ReadFile(certPath());
    ASSERT_EQ(chmod(keyPath().c_str(), 0644), 0);
    ASSERT_TRUE(LoadWebCertificate(w.get()));
    EXPECT_EQ(print(), first);
    EXPECT_EQ(ReadFile(certPath()), cert);
    EXPECT_EQ(ReadFile(keyPath()), key);
    EXPECT_EQ(FileMode(keyPath()), 0600);
    EXPECT_TRUE(Contains(syslog(), "web: web-key.pem was mode 0644, rewritten 0600"));
}

// A pair made anew is made as at the first start (its fingerprint and the
// key's mode: the test above).
TEST_F(WebCertificate, ABrokenMismatchedOrExpiringPairIsMadeAnew) {
    ASSERT_TRUE(LoadWebCertificate(w.get()));
    const std::string first = print();
    // Cut short: no certificate.
    const std::string cert = ReadFile(certPath());
    ASSERT_TRUE(WriteFile(certPath(), cert.substr(0, cert.size() / 2)));
    ASSERT_TRUE(LoadWebCertificate(w.get()));
    EXPECT_NE(print(), first);
    // Another key beside the certificate.
    ASSERT_EQ(std::system(("openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out " + keyPath() +
                           " 2>/dev/null").c_str()),
              0);
    const std::string second = print();
    ASSERT_TRUE(LoadWebCertificate(w.get()));
    EXPECT_NE(print(), second);
    EXPECT_TRUE(Contains(syslog(), "(the key is not the certificate's before)"));
    // A pair that ends tomorrow (made by openssl, a day long).
    ASSERT_EQ(std::system(("openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -days 1 -subj "
                           "/CN=old -keyout " + keyPath() + " -out " + certPath() + " 2>/dev/null")
                              .c_str()),
              0);
    ASSERT_TRUE(LoadWebCertificate(w.get()));
    EXPECT_TRUE(Contains(syslog(), "(expired before)"));
    EXPECT_FALSE(Contains(openssl("x509 -noout -subject -in " + certPath()), "CN = old"));
}

TEST_F(WebCertificate, AReadOnlySetPartitionLeavesNoFingerprint) {
    // The remount stand-in fails: nothing can be written, and nothing is shown.
    ASSERT_TRUE(SimWriteScript(dir.path, "/bin/mount", "exit 1\n"));
    EXPECT_FALSE(LoadWebCertificate(w.get()));
    EXPECT_EQ(print(), "");
    EXPECT_FALSE(FileExists(keyPath()));
}

} // namespace
