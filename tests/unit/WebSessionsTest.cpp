// The console's sessions and the parsers of what a browser sends to log in:
// the form's field decoded and bounded, the cookie found among others and
// compared whole, the table bounded with the oldest idle session giving way,
// and a session's end after twelve hours.
#include "web/Sessions.h"

#include <cstring>
#include <set>

namespace {

std::string field(const std::string& body, const char* name, size_t cap = 32) {
    char out[64] = {};
    return WebFormField(body.data(), body.size(), name, out, cap) ? out : "<none>";
}

TEST(WebForm, TheFieldIsDecodedAndBounded) {
    EXPECT_EQ(field("code=ABCDEFGHJKLM", "code"), "ABCDEFGHJKLM");
    EXPECT_EQ(field("x=1&code=ab+cd%2B%41&y=2", "code"), "ab cd+A");
    EXPECT_EQ(field("xcode=1&code=2", "code"), "2");
    EXPECT_EQ(field("code=", "code"), "");
    EXPECT_EQ(field("codes=1", "code"), "<none>");
    EXPECT_EQ(field("code=%4", "code"), "<none>");  // cut escape
    EXPECT_EQ(field("code=%zz", "code"), "<none>"); // not hex
    EXPECT_EQ(field("code=a%00b", "code"), "<none>");
    EXPECT_EQ(field("code=" + std::string(31, 'A'), "code"), std::string(31, 'A'));
    EXPECT_EQ(field("code=" + std::string(32, 'A'), "code"), "<none>"); // no room for its end
    // The body is taken by its length, not up to a NUL.
    const std::string withNul("code=AB\0CD", 10);
    char out[16];
    EXPECT_TRUE(WebFormField(withNul.data(), 7, "code", out, sizeof out));
    EXPECT_STREQ(out, "AB");
}

TEST(WebSessionTable, CookiesFindTheirSessionWholeAndUntilTheyExpire) {
    WebSessions t;
    WebSession* a = WebSessionOpen(&t, 1000);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(std::strlen(a->id), kWebSessionIdChars);
    const std::string id = a->id;
    char set[160];
    WebSessionCookie(*a, set, sizeof set);
    EXPECT_EQ(std::string(set), "panel_session=" + id + "; Path=/; Max-Age=43200; HttpOnly; Secure; SameSite=Strict");

    EXPECT_EQ(WebSessionFind(&t, ("panel_session=" + id).c_str(), 2000), a);
    EXPECT_EQ(WebSessionFind(&t, ("theme=dark; panel_session=" + id + "; x=1").c_str(), 2000), a);
    EXPECT_EQ(WebSessionFind(&t, ("panel_session=" + id.substr(0, 31)).c_str(), 2000), nullptr);
    EXPECT_EQ(WebSessionFind(&t, ("panel_session=" + id + "0").c_str(), 2000), nullptr);
    // Every character counts: the same identifier with its first or its last one changed.
    for (size_t at : {size_t{0}, id.size() - 1}) {
        std::string guess = id;
        guess[at] = guess[at] == 'a' ? 'b' : 'a';
        EXPECT_EQ(WebSessionFind(&t, ("panel_session=" + guess).c_str(), 2000), nullptr) << at;
    }
    EXPECT_EQ(WebSessionFind(&t, ("my_panel_session=" + id).c_str(), 2000), nullptr);
    EXPECT_EQ(WebSessionFind(&t, "panel_session=", 2000), nullptr);
    EXPECT_EQ(WebSessionFind(&t, nullptr, 2000), nullptr);
    // A free place's empty id never matches an empty or zeroed cookie.
    EXPECT_EQ(WebSessionFind(&t, ("panel_session=" + std::string(32, '\0')).c_str(), 2000), nullptr);

    t.controller = static_cast<int>(a - t.s);
    EXPECT_EQ(WebSessionFind(&t, ("panel_session=" + id).c_str(), 1000 + kWebSessionMs - 1), a);
    EXPECT_EQ(WebSessionFind(&t, ("panel_session=" + id).c_str(), 1000 + kWebSessionMs), nullptr);
    EXPECT_EQ(t.controller, -1); // expired in control: nobody is
    EXPECT_EQ(t.s[0].id[0], '\0');
}

TEST(WebSessionTable, ANewLoginTakesTheOldestIdlePlaceWhenFull) {
    WebSessions t;
    std::set<std::string> ids;
    for (int i = 0; i < kWebSessions; i++) {
        WebSession* s = WebSessionOpen(&t, 100 + i);
        ASSERT_NE(s, nullptr);
        ids.insert(s->id);
    }
    EXPECT_EQ(ids.size(), static_cast<size_t>(kWebSessions)); // drawn, not counted
    t.s[0].sockets = 1; // the oldest has a console open: the next oldest goes
    t.controller = 1;
    WebSession* s = WebSessionOpen(&t, 500);
    EXPECT_EQ(s, &t.s[1]);
    EXPECT_EQ(t.controller, -1);
    EXPECT_EQ(s->sockets, 0);
    // All busy: the oldest of all.
    for (WebSession& x : t.s)
        x.sockets = 1;
    EXPECT_EQ(WebSessionOpen(&t, 600), &t.s[0]);
}

} // namespace
