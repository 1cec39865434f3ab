// The console's key and self-signed certificate: kept, checked, or made anew.
#include "web/Certificate.h"

#include "core/Setup.h"
#include "core/Works.h"
#include "platform/Log.h"
#include "platform/Root.h"
#include "platform/Socket.h"

#include <arpa/inet.h>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <ifaddrs.h>
#include <memory>
#include <net/if.h>
#include <netinet/in.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr mode_t kPrivate = 0600;
constexpr off_t kLargestPem = 64 * 1024; // a P-256 pair is well under 2 KB

struct Free {
    void operator()(X509* p) const { X509_free(p); }
    void operator()(EVP_PKEY* p) const { EVP_PKEY_free(p); }
    void operator()(BIO* p) const { BIO_free(p); }
    void operator()(X509_EXTENSION* p) const { X509_EXTENSION_free(p); }
};
using X509Ptr = std::unique_ptr<X509, Free>;
using KeyPtr = std::unique_ptr<EVP_PKEY, Free>;
using BioPtr = std::unique_ptr<BIO, Free>;

// A whole file of at most kLargestPem bytes, and its mode; false when missing,
// unreadable or larger.
bool readSmall(const char* path, std::string* text, mode_t* mode) {
    FILE* f = std::fopen(plat_path(path).c_str(), "rb");
    if (!f)
        return false;
    struct stat st;
    bool ok = fstat(fileno(f), &st) == 0 && st.st_size <= kLargestPem;
    if (ok) {
        *mode = st.st_mode & 07777;
        text->assign(static_cast<size_t>(st.st_size), '\0');
        ok = std::fread(text->data(), 1, text->size(), f) == text->size();
    }
    std::fclose(f);
    return ok;
}

BioPtr memBio(const std::string& text) { return BioPtr(BIO_new_mem_buf(text.data(), static_cast<int>(text.size()))); }

X509Ptr parseCert(const std::string& pem) {
    BioPtr bio = memBio(pem);
    return X509Ptr(bio ? PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr) : nullptr);
}

std::string fingerprintOf(X509* cert) {
    unsigned char md[EVP_MAX_MD_SIZE];
    unsigned int n = 0;
    if (!X509_digest(cert, EVP_sha256(), md, &n) || n != 32)
        return {};
    char text[32 * 3];
    for (unsigned int i = 0; i < n; i++)
        std::snprintf(text + i * 3, 4, "%02X%s", md[i], i + 1 < n ? ":" : "");
    return text;
}

// The unit's host name and addresses, for the subject and alternative names:
// what a browser may be pointed at.
std::string altNames(const char* host) {
    std::set<std::string> ips{"127.0.0.1", "::1"};
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) == 0) {
        for (ifaddrs* a = list; a; a = a->ifa_next) {
            if (!a->ifa_addr || !(a->ifa_flags & IFF_UP))
                continue;
            char ip[INET6_ADDRSTRLEN] = {};
            const int family = a->ifa_addr->sa_family;
            if (family == AF_INET)
                inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in*>(a->ifa_addr)->sin_addr, ip, sizeof ip);
            else if (family == AF_INET6 &&
                     !IN6_IS_ADDR_LINKLOCAL(&reinterpret_cast<sockaddr_in6*>(a->ifa_addr)->sin6_addr))
                inet_ntop(AF_INET6, &reinterpret_cast<sockaddr_in6*>(a->ifa_addr)->sin6_addr, ip, sizeof ip);
            if (ip[0])
                ips.insert(ip);
        }
        freeifaddrs(list);
    }
    std::string names = std::string("DNS:") + host + ",DNS:localhost";
    for (const std::string& ip : ips)
        names += ",IP:" + ip;
    return names;
}

bool addExtension(X509* cert, int nid, const std::string& value) {
    X509V3_CTX ctx;
    X509V3_set_ctx(&ctx, cert, cert, nullptr, nullptr, 0);
    std::unique_ptr<X509_EXTENSION, Free> ext(X509V3_EXT_conf_nid(nullptr, &ctx, nid, value.c_str()));
    return ext && X509_add_ext(cert, ext.get(), -1) == 1;
}

// A new key and certificate as PEM texts; false (logged) when libcrypto fails.
bool makePair(std::string* keyPem, std::string* certPem) {
    KeyPtr key(EVP_EC_gen("P-256"));
    X509Ptr cert(X509_new());
    if (!key || !cert) {
        LogErr("web: no key drawn for the certificate");
        return false;
    }
    char host[64] = {};
    if (gethostname(host, sizeof host - 1) != 0 || !host[0])
        std::strcpy(host, "amp-panel");
    uint8_t serial[16];
    if (plat_random_bytes(serial, sizeof serial) != 0) {
        LogErr("web: /dev/urandom failed, no certificate made");
        return false;
    }
    serial[0] &= 0x7F; // a positive serial number
    std::unique_ptr<BIGNUM, decltype(&BN_free)> bn(BN_bin2bn(serial, sizeof serial, nullptr), BN_free);
    X509_NAME* name = X509_get_subject_name(cert.get());
    const bool ok =
        bn && X509_set_version(cert.get(), 2) && BN_to_ASN1_INTEGER(bn.get(), X509_get_serialNumber(cert.get())) &&
        X509_gmtime_adj(X509_getm_notBefore(cert.get()), 0) &&
        X509_gmtime_adj(X509_getm_notAfter(cert.get()), static_cast<long>(kWebCertDays) * 86400) &&
        X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>(host), -1, -1,
                                   0) &&
        X509_set_issuer_name(cert.get(), name) && X509_set_pubkey(cert.get(), key.get()) &&
        addExtension(cert.get(), NID_subject_alt_name, altNames(host)) &&
        addExtension(cert.get(), NID_basic_constraints, "critical,CA:FALSE") &&
        addExtension(cert.get(), NID_key_usage, "critical,digitalSignature") &&
        addExtension(cert.get(), NID_ext_key_usage, "serverAuth") &&
        X509_sign(cert.get(), key.get(), EVP_sha256()) > 0;
    BioPtr keyBio(BIO_new(BIO_s_mem())), certBio(BIO_new(BIO_s_mem()));
    if (!ok || !keyBio || !certBio ||
        !PEM_write_bio_PrivateKey(keyBio.get(), key.get(), nullptr, nullptr, 0, nullptr, nullptr) ||
        !PEM_write_bio_X509(certBio.get(), cert.get())) {
        LogErr("web: the certificate could not be made");
        return false;
    }
    char* data = nullptr;
    long n = BIO_get_mem_data(keyBio.get(), &data);
    keyPem->assign(data, static_cast<size_t>(n));
    n = BIO_get_mem_data(certBio.get(), &data);
    certPem->assign(data, static_cast<size_t>(n));
    return true;
}

// Why the pair on file cannot be kept; nullptr when it can.
const char* unusable(const std::string& keyPem, const std::string& certPem) {
    X509Ptr cert = parseCert(certPem);
    if (!cert)
        return "no certificate";
    BioPtr bio = memBio(keyPem);
    KeyPtr key(bio ? PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr) : nullptr);
    if (!key)
        return "no key";
    if (X509_check_private_key(cert.get(), key.get()) != 1)
        return "the key is not the certificate's";
    // Renewed a day before it ends, so that a browser never sees it expired.
    time_t tomorrow = std::time(nullptr) + 86400;
    if (X509_cmp_time(X509_get0_notAfter(cert.get()), &tomorrow) <= 0)
        return "expired";
    return nullptr;
}

} // namespace

std::string WebCertificateFingerprint(const std::string& pem) {
    X509Ptr cert = parseCert(pem);
    return cert ? fingerprintOf(cert.get()) : std::string();
}

bool LoadWebCertificate(Works* w) {
    w->webFingerprint.set("");
    std::string keyPem, certPem;
    mode_t keyMode = 0, certMode = 0;
    const bool haveKey = readSmall(kWebKeyPath, &keyPem, &keyMode);
    const bool haveCert = readSmall(kWebCertPath, &certPem, &certMode);
    const char* why = !haveKey && !haveCert ? "none yet" : !haveKey ? "no key" : !haveCert ? "no certificate"
                                                                                           : unusable(keyPem, certPem);
    if (!why) {
        if (keyMode != kPrivate) {
            LogErr("web: web-key.pem was mode %04o, rewritten 0600", static_cast<unsigned>(keyMode));
            if (WriteSetFile(kWebKeyPath, keyPem.data(), keyPem.size(), kPrivate) != 0) {
                LogErr("web: web-key.pem could not be made private");
                return false;
            }
        }
        w->webFingerprint.set(WebCertificateFingerprint(certPem).c_str());
        return true;
    }
    if (!makePair(&keyPem, &certPem))
        return false;
    // Both files in one read-write stretch of /opt/set; the key first, so a
    // certificate whose key is lost is made again next time.
    const bool rw = RemountSetRw();
    const bool written = rw && WriteSetFile(kWebKeyPath, keyPem.data(), keyPem.size(), kPrivate) == 0 &&
                         WriteSetFile(kWebCertPath, certPem.data(), certPem.size(), 0644) == 0;
    if (rw)
        RemountSetRo();
    if (!written) {
        LogErr("web: the certificate could not be written under /opt/set");
        return false;
    }
    const std::string print = WebCertificateFingerprint(certPem);
    w->webFingerprint.set(print.c_str());
    LogInfo("web: new certificate (%s before), SHA-256 %s", why, print.c_str());
    return true;
}
