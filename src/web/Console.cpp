// The browser console's HTTPS and WebSocket server.
#include "web/Console.h"

#include "core/RemoteCode.h"
#include "core/Storage.h"
#include "core/Works.h"
#include "platform/Clock.h"
#include "platform/Log.h"
#include "platform/Root.h"
#include "platform/Socket.h"
#include "platform/Thread.h"
#include "platform/Wait.h"
#include "remote/Throttle.h"
#include "web/Certificate.h"
#include "web/Server.h"

#include <atomic>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <libwebsockets.h>
#include <memory>
#include <openssl/crypto.h>
#include <string>
#include <unistd.h>

namespace {

constexpr size_t kPageMax = kWebOutMax; // the login page, read once, goes out as one answer
constexpr int kRetryMs = 5000; // a port another program holds

// Shown when the www folder has no login page: the form alone still works.
constexpr const char kBareLogin[] =
    "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>Amplifier</title></head><body>"
    "<form method=\"post\" action=\"/login\"><input name=\"code\" type=\"password\" autocomplete=\"off\">"
    "<button>Log in</button></form></body></html>\n";

void lwsLog(int level, const char* line) {
    // Its lines end in a line feed and carry their own time stamp.
    std::string text(line);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
    const size_t at = text.find("] ");
    if (at != std::string::npos && at < 40)
        text.erase(0, at + 2);
    if (level & LLL_ERR)
        LogErr("web: %s", text.c_str());
    else
        LogInfo("web: %s", text.c_str());
}

bool readPage(const std::string& path, std::string* out) {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f)
        return false;
    char buf[4096];
    size_t n;
    out->clear();
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0 && out->size() <= kPageMax)
        out->append(buf, n);
    std::fclose(f);
    return out->size() <= kPageMax;
}

} // namespace

// The peer's address as the remote link writes it: an IPv4 peer of the
// dual-stack socket without its "::ffff:" prefix, so that both doors count it
// as one address.
void WebPeerOf(lws* wsi, WebConn* c) {
    char raw[sizeof c->peer] = {};
    lws_get_peer_simple(wsi, raw, sizeof raw);
    const char* p = std::strncmp(raw, "::ffff:", 7) == 0 && std::strchr(raw + 7, '.') ? raw + 7 : raw;
    std::snprintf(c->peer, sizeof c->peer, "%s", p);
}

namespace {

// Headers, then the body on the next writable turn. 0, or -1 to close.
int respond(lws* wsi, WebConn* c, unsigned status, const char* type, const char* body, size_t len,
            const char* cookie = nullptr, const char* location = nullptr) {
    if (len > kWebOutMax)
        return -1;
    unsigned char head[LWS_PRE + 1024];
    unsigned char *p = head + LWS_PRE, *end = head + sizeof head - 1;
    auto add = [&](lws_token_indexes t, const char* v) {
        return lws_add_http_header_by_token(wsi, t, reinterpret_cast<const unsigned char*>(v),
                                            static_cast<int>(std::strlen(v)), &p, end) == 0;
    };
    if (lws_add_http_common_headers(wsi, status, type, len, &p, end) || !add(WSI_TOKEN_HTTP_CACHE_CONTROL, "no-store") ||
        (cookie && !add(WSI_TOKEN_HTTP_SET_COOKIE, cookie)) || (location && !add(WSI_TOKEN_HTTP_LOCATION, location)) ||
        lws_finalize_write_http_header(wsi, head + LWS_PRE, &p, end))
        return -1;
    if (len == 0)
        return c->closeAfter || lws_http_transaction_completed(wsi) ? -1 : 0;
    std::memcpy(c->out + LWS_PRE, body, len);
    c->outLen = len;
    c->pending = true;
    lws_callback_on_writable(wsi);
    return 0;
}

int loginPage(lws* wsi, WebConn* c, unsigned status) {
    const std::string& page = serverOf(wsi)->loginPage;
    return respond(wsi, c, status, "text/html", page.data(), page.size());
}

const char* mimeOf(const char* name) {
    const char* dot = std::strrchr(name, '.');
    static const struct {
        const char* ext;
        const char* type;
    } kTypes[] = {{".html", "text/html"}, {".js", "text/javascript"}, {".css", "text/css"},
                  {".png", "image/png"},  {".svg", "image/svg+xml"},  {".ico", "image/x-icon"}};
    for (const auto& t : kTypes)
        if (dot && std::strcmp(dot, t.ext) == 0)
            return t.type;
    return nullptr;
}

// A file of the page: "/name.ext" with a plain name and a known type, so no
// request reaches outside the folder.
bool pageFile(const char* uri, std::string* path, const char** type) {
    const char* name = uri[0] == '/' ? uri + 1 : uri;
    if (!*name || std::strlen(name) > 64)
        return false;
    for (const char* p = name; *p; p++)
        if (!std::isalnum(static_cast<unsigned char>(*p)) && *p != '-' && *p != '_' && *p != '.')
            return false;
    if (name[0] == '.' || !(*type = mimeOf(name)))
        return false;
    *path = std::string(kWebRoot) + "/" + name;
    return true;
}

} // namespace

WebSession* WebRequestSession(lws* wsi, WebServer* s) {
    char cookie[kWebHeaderBytes];
    if (lws_hdr_copy(wsi, cookie, sizeof cookie, WSI_TOKEN_HTTP_COOKIE) < 0)
        return nullptr;
    return WebSessionFind(&s->sessions, cookie, plat_mono_ms());
}

namespace {

// The code as typed: letters in either case, blanks around it.
bool codeMatches(Works* w, const char* typed) {
    char code[kRemoteCodeLength + 1] = {};
    size_t n = 0;
    for (const char* p = typed; *p; p++) {
        if (*p == ' ')
            continue;
        if (n >= kRemoteCodeLength)
            return false;
        code[n++] = static_cast<char>(std::toupper(static_cast<unsigned char>(*p)));
    }
    const auto mine = w->remotePassword.get();
    return n == kRemoteCodeLength && RemoteCodeValid(mine.s) &&
           CRYPTO_memcmp(code, mine.s, kRemoteCodeLength) == 0;
}

int finishLogin(lws* wsi, WebConn* c) {
    WebServer* s = serverOf(wsi);
    const int64_t now = plat_mono_ms();
    if (c->throttled)
        return loginPage(wsi, c, 429); // the form again, to try later
    char typed[64];
    if (c->formTooLong || !WebFormField(c->form, c->formLen, "code", typed, sizeof typed) ||
        !codeMatches(s->w, typed)) {
        ThrottleFailure(UnitThrottle(), c->peer, now);
        LogInfo("web: wrong code from %s", c->peer);
        return loginPage(wsi, c, HTTP_STATUS_FORBIDDEN);
    }
    WebSession* session = WebSessionOpen(&s->sessions, now);
    if (!session)
        return respond(wsi, c, HTTP_STATUS_INTERNAL_SERVER_ERROR, "text/plain", "", 0);
    ThrottleSuccess(UnitThrottle(), c->peer, now);
    LogInfo("web: %s logged in", c->peer);
    char cookie[160];
    WebSessionCookie(*session, cookie, sizeof cookie);
    return respond(wsi, c, HTTP_STATUS_SEE_OTHER, "text/plain", "", 0, cookie, "/");
}

int httpRequest(lws* wsi, WebConn* c, const char* uri) {
    WebServer* s = serverOf(wsi);
    WebPeerOf(wsi, c);
    if (lws_hdr_total_length(wsi, WSI_TOKEN_POST_URI) > 0) {
        c->closeAfter = true; // until the form is read whole, the connection carries no other request
        if (std::strcmp(uri, "/login") != 0)
            return respond(wsi, c, HTTP_STATUS_NOT_FOUND, "text/plain", "", 0);
        // A throttled form is still read (bounded) before the answer: an
        // answer ahead of the body it leaves unread never reaches the browser.
        c->throttled = ThrottleAdmit(UnitThrottle(), c->peer, plat_mono_ms()) != Admit::Yes;
        c->login = true;
        c->closeAfter = false;
        return 0; // the body follows
    }
    if (lws_hdr_total_length(wsi, WSI_TOKEN_GET_URI) <= 0)
        return respond(wsi, c, HTTP_STATUS_METHOD_NOT_ALLOWED, "text/plain", "", 0);
    if (!WebRequestSession(wsi, s))
        return loginPage(wsi, c, std::strcmp(uri, "/") == 0 ? HTTP_STATUS_OK : HTTP_STATUS_FORBIDDEN);
    if (std::strcmp(uri, "/status.json") == 0) {
        char json[kStatusJsonMax];
        const size_t n = BuildStatusJson(s->w, json, sizeof json);
        return respond(wsi, c, HTTP_STATUS_OK, "application/json", json, n);
    }
    std::string path;
    const char* type = nullptr;
    if (!pageFile(std::strcmp(uri, "/") == 0 ? "/index.html" : uri, &path, &type))
        return respond(wsi, c, HTTP_STATUS_NOT_FOUND, "text/plain", "", 0);
    const int r = lws_serve_http_file(wsi, path.c_str(), type, nullptr, 0);
    if (r < 0)
        return -1; // libwebsockets has answered 404 itself
    return r > 0 && lws_http_transaction_completed(wsi) ? -1 : 0;
}

int callback(lws* wsi, lws_callback_reasons reason, void* user, void* in, size_t len) {
    WebConn* c = static_cast<WebConn*>(user);
    switch (reason) {
    case LWS_CALLBACK_HTTP:
        return httpRequest(wsi, c, static_cast<const char*>(in));
    case LWS_CALLBACK_HTTP_BODY:
        if (!c->login)
            return -1;
        if (c->formLen + len > sizeof c->form)
            c->formTooLong = true;
        else {
            std::memcpy(c->form + c->formLen, in, len);
            c->formLen += len;
        }
        return 0;
    case LWS_CALLBACK_HTTP_BODY_COMPLETION:
        return c->login ? finishLogin(wsi, c) : -1;
    case LWS_CALLBACK_HTTP_WRITEABLE:
        if (!c->pending)
            return 0;
        c->pending = false;
        if (lws_write(wsi, c->out + LWS_PRE, c->outLen, LWS_WRITE_HTTP_FINAL) < static_cast<int>(c->outLen))
            return -1;
        return c->closeAfter || lws_http_transaction_completed(wsi) ? -1 : 0;
    case LWS_CALLBACK_FILTER_PROTOCOL_CONNECTION:
        return WebAdmitConsole(wsi, c) ? 0 : -1;
    case LWS_CALLBACK_ESTABLISHED:
        WebConsoleOpened(wsi, c);
        return 0;
    case LWS_CALLBACK_SERVER_WRITEABLE:
        return WebConsoleWritable(wsi, c);
    case LWS_CALLBACK_RECEIVE:
        return WebConsoleReceived(wsi, c, in, len);
    case LWS_CALLBACK_CLOSED:
        if (c->socket)
            WebConsoleClosed(wsi, c);
        return 0;
    default:
        return lws_callback_http_dummy(wsi, reason, user, in, len);
    }
}

void onTick(lws_sorted_usec_list_t* sul) {
    WebServer* s = lws_container_of(sul, WebServer, tick);
    const int next = WebConsolesTick(s);
    lws_sul_schedule(s->ctx, 0, &s->tick, onTick, next * LWS_US_PER_MS);
}

const lws_protocols kProtocols[] = {
    {"console", callback, sizeof(WebConn), kWebMessageBytes, 0, nullptr, 0},
    {nullptr, nullptr, 0, 0, 0, nullptr, 0},
};

// The key and certificate that start-up could not make are made and written
// by the storage thread (at once without it); the console waits for them as
// it waits for its port. False when there are none.
bool certificateMade(Works* w, const PortWanted& wanted) {
    auto tried = std::make_shared<std::atomic<bool>>(false);
    if (StorageJob("", [w, tried] {
            LoadWebCertificate(w);
            tried->store(true);
        }) == kStorageRefused)
        return false;
    while (!tried->load() && wanted())
        plat_wait_fds(nullptr, 0, kPortSliceMs, wanted);
    return w->webFingerprint.get().s[0] != '\0';
}

} // namespace

void WebConsole(Works* w) {
    const int port = SettingNumber(w, "WebPort");
    if (port <= 0)
        return;
    const PortWanted wanted = [w] { return w->running && ThreadStillWanted(); };
    if (!w->webFingerprint.get().s[0] && !certificateMade(w, wanted)) {
        LogErr("web: no certificate, the console is not served");
        return;
    }
    WebServer s;
    s.w = w;
    if (!readPage(std::string(kWebRoot) + "/login.html", &s.loginPage)) {
        LogErr("web: %s/login.html missing or over %zu bytes, a bare login form is served", kWebRoot, kPageMax);
        s.loginPage = kBareLogin;
    }
    lws_set_log_level(LLL_ERR, lwsLog);
    const std::string cert = plat_path(kWebCertPath), key = plat_path(kWebKeyPath);
    lws_context_creation_info info{};
    info.port = port;
    info.protocols = kProtocols;
    info.options = LWS_SERVER_OPTION_DO_SSL_GLOBAL_INIT | LWS_SERVER_OPTION_HTTP_HEADERS_SECURITY_BEST_PRACTICES_ENFORCE;
    info.ssl_cert_filepath = cert.c_str();
    info.ssl_private_key_filepath = key.c_str();
    info.alpn = "http/1.1";
    info.max_http_header_data = kWebHeaderBytes;
    info.max_http_header_pool = 2 * kWebSockets;
    info.simultaneous_ssl_restriction = 2 * kWebSockets;
    info.timeout_secs = 10;
    info.keepalive_timeout = 10;
    info.fd_limit_per_thread = 64;
    info.user = &s;
    // A port still held (by a program that is ending, say) is tried again.
    // libwebsockets leaks a little on each context it fails to make, so the
    // port is tried with a plain socket first.
    auto portFree = [port] {
        TcpListenError err;
        const int fd = plat_tcp_listen(port, 1, &err);
        if (fd >= 0)
            close(fd);
        return fd >= 0;
    };
    bool refusedLogged = false;
    while (wanted() && !(portFree() && (s.ctx = lws_create_context(&info)))) {
        if (!refusedLogged)
            LogErr("web: the console cannot serve port %d, trying again every %d s", port, kRetryMs / 1000);
        refusedLogged = true;
        plat_wait_fds(nullptr, 0, kRetryMs, wanted);
    }
    if (!s.ctx)
        return;
    LogInfo("web: console at https port %d, certificate SHA-256 %s", port, w->webFingerprint.get().s);
    lws_sul_schedule(s.ctx, 0, &s.tick, onTick, 0);
    while (wanted())
        if (lws_service(s.ctx, 0) < 0)
            break;
    lws_context_destroy(s.ctx);
    WebConsolesEnd(&s);
    LogInfo("web: console end");
}
