// The console's session table, cookies and login form.
#include "web/Sessions.h"

#include "amp/Decoder.h"
#include "platform/Log.h"
#include "platform/Socket.h"

#include <cstdio>
#include <cstring>
#include <openssl/crypto.h>

namespace {

bool live(const WebSession& s, int64_t nowMs) { return s.id[0] && nowMs - s.createdMs < kWebSessionMs; }

} // namespace

WebSession* WebSessionOpen(WebSessions* t, int64_t nowMs) {
    uint8_t raw[kWebSessionIdChars / 2];
    if (plat_random_bytes(raw, sizeof raw) != 0) {
        LogErr("web: /dev/urandom failed, no session opened");
        return nullptr;
    }
    // A free or expired place, else the oldest session without a console open,
    // else the oldest.
    int pick = -1;
    for (int i = 0; i < kWebSessions && pick < 0; i++)
        if (!live(t->s[i], nowMs))
            pick = i;
    for (int pass = 0; pass < 2 && pick < 0; pass++)
        for (int i = 0; i < kWebSessions; i++)
            if ((pass == 1 || t->s[i].sockets == 0) && (pick < 0 || t->s[i].createdMs < t->s[pick].createdMs))
                pick = i;
    if (t->controller == pick)
        t->controller = -1;
    WebSession& s = t->s[pick];
    s = WebSession{};
    for (size_t i = 0; i < sizeof raw; i++)
        std::snprintf(s.id + 2 * i, 3, "%02x", raw[i]);
    s.createdMs = nowMs;
    return &s;
}

WebSession* WebSessionFind(WebSessions* t, const char* header, int64_t nowMs) {
    if (!header)
        return nullptr;
    // "a=1; panel_session=ID; b=2": the first cookie of that name.
    const size_t nameLen = std::strlen(kWebCookieName);
    for (const char* p = header; *p;) {
        while (*p == ' ' || *p == ';')
            p++;
        const char* end = std::strchr(p, ';');
        const size_t len = end ? static_cast<size_t>(end - p) : std::strlen(p);
        if (len == nameLen + 1 + kWebSessionIdChars && std::strncmp(p, kWebCookieName, nameLen) == 0 &&
            p[nameLen] == '=') {
            const char* id = p + nameLen + 1;
            for (WebSession& s : t->s) {
                if (!s.id[0] || CRYPTO_memcmp(s.id, id, kWebSessionIdChars) != 0)
                    continue;
                if (live(s, nowMs))
                    return &s;
                if (t->controller == &s - t->s)
                    t->controller = -1;
                s = WebSession{};
                return nullptr;
            }
            return nullptr;
        }
        if (!end)
            break;
        p = end + 1;
    }
    return nullptr;
}

void WebSessionCookie(const WebSession& s, char* out, size_t cap) {
    std::snprintf(out, cap, "%s=%s; Path=/; Max-Age=%lld; HttpOnly; Secure; SameSite=Strict", kWebCookieName, s.id,
                  static_cast<long long>(kWebSessionMs / 1000));
}

bool WebFormField(const char* body, size_t n, const char* field, char* out, size_t cap) {
    const size_t fieldLen = std::strlen(field);
    size_t at = 0;
    while (at < n) {
        size_t end = at;
        while (end < n && body[end] != '&')
            end++;
        if (end - at > fieldLen && std::strncmp(body + at, field, fieldLen) == 0 && body[at + fieldLen] == '=') {
            size_t o = 0;
            for (size_t i = at + fieldLen + 1; i < end; i++) {
                char c = body[i];
                if (c == '+') {
                    c = ' ';
                } else if (c == '%') {
                    const int hi = i + 2 < end ? charToInt(body[i + 1]) : -1;
                    const int lo = hi >= 0 ? charToInt(body[i + 2]) : -1;
                    if (lo < 0)
                        return false;
                    c = static_cast<char>(hi * 16 + lo);
                    i += 2;
                }
                if (c == '\0' || o + 1 >= cap)
                    return false;
                out[o++] = c;
            }
            out[o] = '\0';
            return true;
        }
        at = end + 1;
    }
    return false;
}
