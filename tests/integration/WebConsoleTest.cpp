// The browser console's server against real clients: curl for the login, the
// cookie and the pages, openssl for the certificate, Python's websockets
// library for the console's WebSocket. A stranger gets the login page and
// nothing else, and wrong codes are throttled as on the remote link.
#include "PictureMessage.h"
#include "RootedWorks.h"
#include "WsPeer.h"

#include "platform/Socket.h"
#include "draw/Fb.h"
#include "web/Certificate.h"
#include "web/Console.h"

#include <cstdio>
#include <cstring>
#include <sstream>
#include <unistd.h>

namespace {

constexpr const char* kCode = "ABCDEFGHJKLM";

class WebConsoleRun : public RootedWorks {
  protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(RootedWorks::SetUp());
        // The page's files are found beside the skins, as on the unit. The
        // panel's picture, in memory: a pattern, already on the screen.
        usePicture(PANEL_SKINS_DIR);
        w->startupFlags.replace(0);
        w->remotePassword.set(kCode);
        port = FreeTcpPort();
        SetSettingNumber(w.get(), "WebPort", port);
        ASSERT_TRUE(LoadWebCertificate(w.get()));
        for (int y = 0; y < 480; y++)
            for (int x = 0; x < 800; x++)
                for (int i = 0; i < 3; i++)
                    fb->work[y * fb->lineSize + x * 4 + i] =
                        static_cast<uint8_t>(1 + x * (i + 1) + y * 3);
        fbRealize(w->fb);
        server = std::thread(WebConsole, w.get());
        ASSERT_TRUE(logged("web: console at https port " + std::to_string(port), 10000))
            << syslog();
    }
    void TearDown() override {
        w->running = 0;
        if (server.joinable())
            server.join();
        for (auto& m : mirrors) {
            WriteFile(m.first + "/stop", "");
            m.second.join();
        }
        RootedWorks::TearDown();
    }
    std::string url(const std::string& path) const { return "https://127.0.0.1:" + std::to_string(port) + path; }
    // curl's status line and headers (-i) and body; the certificate is the
    // unit's own, checked by its fingerprint elsewhere.
    std::string curl(const std::string& args) const {
        return CommandOutput("curl -sk -i --max-time 10 --interface " + source + " " + args + " 2>&1");
    }
    std::string get(const std::string& path, const std::string& cookie = "") const {
        return curl((cookie.empty() ? "" : "-H 'Cookie: " + cookie + "' ") + "'" + url(path) + "'");
    }
    std::string login(const std::string& code) const {
        return curl("--data-urlencode 'code=" + code + "' " + url("/login"));
    }
    static std::string status(const std::string& response) { return response.substr(0, response.find('\r')); }
    // "panel_session=..." of a login's answer; "" when it set none.
    static std::string cookieOf(const std::string& response) {
        const size_t at = response.find("set-cookie: ");
        if (at == std::string::npos)
            return "";
        return response.substr(at + 12, response.find(';', at) - at - 12);
    }
    // The screen as R, G, B, read under the picture lock.
    std::string screenRgb() const {
        PictureLock lock(PictureMutex());
        return ScreenRgb(w->fb);
    }
    // A scripted browser console in its own folder (tests/support/console_mirror.py),
    // open until TearDown or stopMirror; or, `refused`, turned away by the server.
    std::string startMirror(const std::string& cookie, bool refused = false) {
        const std::string folder = dir.path + "/mirror" + std::to_string(mirrors.size());
        EXPECT_EQ(CommandOutput("mkdir -p " + folder), "");
        const std::string cmd = "/usr/bin/python3 " PANEL_SOURCE_DIR "/tests/support/console_mirror.py wss://127.0.0.1:" +
                                std::to_string(port) + "/ws '" + cookie + "' " + folder + " > " + folder +
                                "/out 2>&1";
        mirrors.emplace_back(folder, std::thread([cmd] { (void)CommandOutput(cmd); }));
        const std::string file = folder + (refused ? "/out" : "/log");
        // Refused, the handshake fails with websockets' Invalid... exception.
        const char* sign = refused ? "websockets.exceptions.Invalid" : "status ";
        EXPECT_TRUE(WaitFor([&] { return Contains(ReadFile(file), sign); }, 10000))
            << ReadFile(folder + "/out");
        return folder;
    }
    void stopMirror(const std::string& folder) {
        WriteFile(folder + "/stop", "");
        EXPECT_TRUE(WaitFor([&] { return Contains(ReadFile(folder + "/log"), "closed"); }, 10000));
    }
    static void sendAsk(const std::string& folder, const std::string& ask) {
        WriteFile(folder + "/asks", ReadFile(folder + "/asks") + ask + "\n");
    }
    // The pictures these tests show are whole, so the newest update alone,
    // read as the page reads it, must be the screen.
    bool mirrorShowsScreen(const std::string& folder, int ms = 10000) const {
        return WaitFor(
            [&] {
                std::string rgb(800 * 480 * 3, '\0');
                int pieces = 0;
                return ApplyPictureMessage(ReadFile(folder + "/picture.msg"), 800, 480, &rgb,
                                           &pieces) &&
                       rgb == screenRgb();
            },
            ms);
    }

    int port = 0;
    std::string source = "127.0.0.1"; // the address curl speaks from
    std::thread server;
    std::vector<std::pair<std::string, std::thread>> mirrors;
};

TEST_F(WebConsoleRun, AStrangerGetsTheLoginPageAndWrongCodesAreThrottled) {
    // An address of its own: the unit's throttle lives as long as the process.
    source = "127.0.0.2";
    for (const char* path : {"/", "/index.html", "/console.js", "/status.json", "/nothing"}) {
        const std::string r = get(path);
        EXPECT_TRUE(Contains(r, "action=\"/login\"")) << path << r;
        EXPECT_FALSE(Contains(r, "\"forward_w\"")) << path;
        EXPECT_EQ(status(r), std::string(path) == "/" ? "HTTP/1.1 200 OK" : "HTTP/1.1 403 Forbidden") << path;
    }
    startMirror("", true);

    const std::string wrong = login("ABCDEFGHJKLN");
    EXPECT_EQ(status(wrong), "HTTP/1.1 403 Forbidden") << wrong;
    EXPECT_EQ(cookieOf(wrong), "");
    EXPECT_TRUE(Contains(syslog(), "web: wrong code from 127.0.0.2")) << syslog();
    // Within the back-off even the right code is not read.
    const std::string busy = login(kCode);
    EXPECT_EQ(status(busy), "HTTP/1.1 429 ");
    EXPECT_TRUE(Contains(busy, "action=\"/login\"")) << busy; // the form again, to try later
    plat_sleep_ms(1100);
    const std::string right = login(kCode);
    EXPECT_EQ(status(right), "HTTP/1.1 303 Redirect") << right;
    EXPECT_NE(cookieOf(right), "");
    // A form too long for the code is a wrong code, not a buffer run over.
    EXPECT_EQ(status(curl("--data 'code=" + std::string(300, 'A') + "' " + url("/login"))), "HTTP/1.1 403 Forbidden");
    EXPECT_FALSE(Contains(syslog(), kCode));
}

TEST_F(WebConsoleRun, TheRightCodeSetsAStrictCookieThatOpensPagesValuesAndConsoles) {
    // Typed in lower case with blanks, as a phone may send it.
    const std::string r = login(" abcdefghjklm ");
    EXPECT_EQ(status(r), "HTTP/1.1 303 Redirect") << r;
    EXPECT_TRUE(Contains(r, "location: /\r\n")) << r;
    const std::string cookie = cookieOf(r);
    ASSERT_EQ(cookie.size(), std::string("panel_session=").size() + 32) << r;
    EXPECT_TRUE(Contains(syslog(), "web: 127.0.0.1 logged in"));

    const std::string page = get("/", cookie);
    EXPECT_EQ(status(page), "HTTP/1.1 200 OK");
    EXPECT_TRUE(Contains(page, "<script src=\"console.js\"")) << page;
    EXPECT_TRUE(Contains(page, "content-security-policy: ")) << page;
    EXPECT_TRUE(Contains(get("/console.js", cookie), "content-type: text/javascript"));
    // Nothing outside the page's folder, however the name is spelled.
    for (const char* path : {"/../skins/img1.png", "/..%2fskins%2fimg1.png", "/.hidden.js", "/panel"})
        EXPECT_EQ(status(curl("--path-as-is -H 'Cookie: " + cookie + "' '" + url(path) + "'")), "HTTP/1.1 404 Not Found")
            << path;

    // The values, as JSON (what they hold: StatusJson.*; a browser parses
    // them: browser.txlimit).
    PublishAmpReadings(w.get(), {.pwrFwd = 512.5f});
    const std::string json = get("/status.json", cookie);
    EXPECT_TRUE(Contains(json, "content-type: application/json")) << json;
    EXPECT_TRUE(Contains(json, "\"forward_w\":512.5,")) << json;

    // Eight consoles at once, never a ninth. (The values they are sent: browser.console.)
    for (int i = 0; i < 8; i++)
        startMirror(cookie);
    startMirror(cookie, true);
    EXPECT_TRUE(Contains(syslog(), "web: 8 consoles open, one more refused"));
}

TEST_F(WebConsoleRun, TheCertificateServedIsTheOneTheStatusPageShowsAndHugeHeadersAreRefused) {
    const std::string print = CommandOutput(
        "openssl s_client -connect 127.0.0.1:" + std::to_string(port) +
        " < /dev/null 2>/dev/null | openssl x509 -noout -fingerprint -sha256 2>&1");
    ASSERT_NE(print.find('='), std::string::npos) << print;
    EXPECT_EQ(print.substr(print.find('=') + 1, 95), w->webFingerprint.get().s);
    // Headers beyond their bound end the request, and the server goes on.
    const std::string big = curl("-H 'X-Big: " + std::string(kWebHeaderBytes + 100, 'x') + "' " + url("/"));
    EXPECT_FALSE(Contains(big, "HTTP/1.1 200")) << big.substr(0, 300);
    EXPECT_EQ(status(get("/")), "HTTP/1.1 200 OK");
}

TEST_F(WebConsoleRun, TheConsoleMirrorsThePictureAndOnlyItsControllerPressesKeys) {
    const std::string first = cookieOf(login(kCode)), second = cookieOf(login(kCode));
    ASSERT_NE(first, "");
    ASSERT_NE(second, "");
    const std::string a = startMirror(first);
    // The whole picture first, exactly.
    EXPECT_TRUE(mirrorShowsScreen(a)) << ReadFile(a + "/out");

    // A still picture sends nothing.
    const size_t updates = CountOf(ReadFile(a + "/log"), "update ");
    plat_sleep_ms(600);
    EXPECT_EQ(CountOf(ReadFile(a + "/log"), "update "), updates);

    // A second browser watches: its keys do nothing. (Its picture, the taps
    // and who is told to be in control: browser.console.)
    const std::string b = startMirror(second);
    sendAsk(b, "{\"key\":2,\"down\":true}");
    sendAsk(b, "{\"take\":true}");
    sendAsk(b, "not an ask");
    sendAsk(a, "{\"key\":1,\"down\":true}");
    EXPECT_TRUE(WaitFor([&] { return w->webKeys.load() == 0x01; }, 5000));
    EXPECT_TRUE(logged("asks nothing known, dropped"));
    EXPECT_EQ(w->webKeys.load(), 0x01);

    // The controller leaves while transmitting: its key is released, the
    // transmit guard acts, and the watcher may take control.
    PublishAmpReadings(w.get(), {.pwrFwd = 50.0f});
    stopMirror(a);
    EXPECT_TRUE(WaitFor([&] { return w->webKeys.load() == 0; }, 5000));
    EXPECT_TRUE(logged("remote: session ended while transmitting")) << syslog();
    PublishAmpReadings(w.get(), {.pwrFwd = 0.0f});
    sendAsk(b, "{\"take\":true}");
    sendAsk(b, "{\"key\":3,\"down\":true}");
    EXPECT_TRUE(WaitFor([&] { return w->webKeys.load() == 0x04; }, 5000));
    EXPECT_TRUE(Contains(syslog(), "web: 127.0.0.1 takes control"));
}

TEST_F(WebConsoleRun, ABrowserThatFallsBehindGetsTheLatestPictureNotAQueue) {
    const std::string cookie = cookieOf(login(kCode));
    ASSERT_NE(cookie, "");
    const std::string a = startMirror(cookie);
    ASSERT_TRUE(mirrorShowsScreen(a)) << ReadFile(a + "/out");
    // The browser stops reading while the panel shows a hundred pictures, each
    // a whole picture of a megabyte and more as PNG (noise does not compress).
    ASSERT_TRUE(WriteFile(a + "/pause", ""));
    plat_sleep_ms(200);
    const size_t before = CountOf(ReadFile(a + "/log"), "update ");
    uint32_t noise = 12345;
    for (int i = 0; i < 100; i++) {
        {
            PictureLock lock(PictureMutex());
            for (int p = 0; p < w->fb->memSize; p += 4) {
                noise = noise * 1664525u + 1013904223u;
                std::memcpy(w->fb->work + p, &noise, 3);
            }
        }
        fbRealize(w->fb);
        plat_sleep_ms(20);
    }
    ASSERT_EQ(std::remove((a + "/pause").c_str()), 0);
    // It catches up with the last picture, through a few updates: what the
    // sockets held (the server's send buffer, up to the machine's largest, and
    // the console's small receive buffer) and the newest, never the hundred.
    EXPECT_TRUE(mirrorShowsScreen(a, 20000)) << ReadFile(a + "/out");
    const size_t got = CountOf(ReadFile(a + "/log"), "update ") - before;
    std::istringstream wmem(ReadFile("/proc/sys/net/ipv4/tcp_wmem"));
    long wmemMin = 0, wmemDefault = 0, wmemMax = 4 << 20;
    wmem >> wmemMin >> wmemDefault >> wmemMax;
    const size_t held = static_cast<size_t>(wmemMax / (1 << 20)) + 4; // a noise picture is over 1 MB
    EXPECT_GE(got, 1u);
    EXPECT_LE(got, held) << "updates after the pause";
    std::printf("a browser that paused through 100 pictures got %zu updates after\n", got);
}

} // namespace

// A port another program holds is tried again until it is free, with one log
// line, and the program's end still ends the wait.
class WebConsolePort : public RootedWorks {};

TEST_F(WebConsolePort, AHeldPortIsTriedAgainUntilItIsFree) {
    workIn(PANEL_SKINS_DIR);
    useTimeScale(4); // the retry's 5 s pass in a quarter
    const int port = FreeTcpPort();
    TcpListenError err;
    int held = plat_tcp_listen(port, 1, &err);
    ASSERT_GE(held, 0);
    SetSettingNumber(w.get(), "WebPort", port);
    w->remotePassword.set(kCode);
    ASSERT_TRUE(LoadWebCertificate(w.get()));
    std::thread server(WebConsole, w.get());
    EXPECT_TRUE(logged("trying again every 5 s"));
    plat_sleep_ms(3000); // two tries more, still one line
    EXPECT_EQ(CountOf(syslog(), "cannot serve port"), 1u);
    close(held);
    EXPECT_TRUE(logged("web: console at https port"));
    w->running = 0;
    server.join();

    // Held to the end: the end is not held up by the wait.
    held = plat_tcp_listen(port, 1, &err);
    ASSERT_GE(held, 0);
    w->running = 1;
    std::thread again(WebConsole, w.get());
    plat_sleep_ms(300);
    w->running = 0;
    const int64_t t0 = plat_mono_ms();
    again.join();
    EXPECT_LT(plat_mono_ms() - t0, 1000 * 4); // program ms, at time scale 4
    close(held);
}
