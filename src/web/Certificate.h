// The browser console's own key and certificate, under /opt/set.
//
// At the console's first start the unit draws an ECDSA P-256 key and signs a
// certificate for itself (ten years, subject and alternative names the unit's
// host name and addresses). A browser cannot check it against an authority, so
// the status page shows its SHA-256 fingerprint: the operator compares it once
// with what the browser shows and accepts it. The key file is mode 0600, and
// like the access code it never reaches the log.
#pragma once

#include <string>

struct Works;

constexpr const char* kWebKeyPath = "/opt/set/web-key.pem";
constexpr const char* kWebCertPath = "/opt/set/web-cert.pem";
constexpr int kWebCertDays = 3653; // ten years, leap days included

// Keeps a pair that belongs together and is still valid, or makes a new one;
// either way webFingerprint then holds the certificate's fingerprint. A key
// file readable by others is rewritten 0600. False (logged, fingerprint empty)
// when no pair could be read or made. It writes under /opt/set itself: start-up
// calls it before the threads run, the console through the storage thread.
bool LoadWebCertificate(Works* works);

// "AB:CD:..." (32 bytes, 95 characters) of a PEM certificate; "" when the
// text holds none.
std::string WebCertificateFingerprint(const std::string& pem);
