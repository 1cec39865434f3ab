// Who may use the browser console: the sessions that gave the access code, the
// one among them in control, and the small parsers of what a browser sends to
// log in (the form's field, the cookie header).
//
// A session is a random 128-bit value the browser keeps in its cookie for 12
// hours. The table is bounded; a new login takes the place of the oldest
// session. Only the console's service thread touches the table, so it needs
// no lock.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr int kWebSessions = 16;
constexpr int64_t kWebSessionMs = 12LL * 3600 * 1000;
constexpr size_t kWebSessionIdChars = 32; // 16 bytes in hex
constexpr const char* kWebCookieName = "panel_session";

struct WebSession {
    char id[kWebSessionIdChars + 1] = {}; // "" when free
    int64_t createdMs = 0;
    int sockets = 0; // console WebSockets open with it
};

struct WebSessions {
    WebSession s[kWebSessions];
    int controller = -1; // the session in control, -1: none
};

// A new session; nullptr (logged) when the random source fails.
WebSession* WebSessionOpen(WebSessions* table, int64_t nowMs);
// The live session of a cookie header's value (may be null); nullptr when it
// names none or an expired one (which is freed).
WebSession* WebSessionFind(WebSessions* table, const char* cookieHeader, int64_t nowMs);
// The "Set-Cookie" value for a session.
void WebSessionCookie(const WebSession& session, char* out, size_t cap);

// The value of `field` in an application/x-www-form-urlencoded body, decoded,
// into `out` (at most cap - 1 characters); false when absent, malformed or
// longer.
bool WebFormField(const char* body, size_t n, const char* field, char* out, size_t cap);
