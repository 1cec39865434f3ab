// The console WebSockets: the picture's updates and the values to every
// console, the keys and the control from the browser in control.
#include "core/Services.h"
#include "core/Works.h"
#include "platform/Clock.h"
#include "platform/Log.h"
#include "remote/AudioTap.h"
#include "remote/TxGuard.h"
#include "remote/TxLimit.h"
#include "remote/th_scrivi.h"
#include "web/Server.h"

#include <cstdio>
#include <cstring>

namespace {

constexpr int kIdleTickMs = 250;   // no console: only the end of the program is watched
constexpr int kPictureMs = 50;     // at most twenty updates a second to a console

WebSession* consoleSession(WebServer* s, const WebConn* c) {
    if (!c->sessionId[0] || c->session < 0 || c->session >= kWebSessions)
        return nullptr;
    WebSession& session = s->sessions.s[c->session];
    return std::strcmp(session.id, c->sessionId) == 0 ? &session : nullptr;
}

bool inControl(WebServer* s, const WebConn* c) {
    return s->sessions.controller >= 0 && s->sessions.controller == c->session && consoleSession(s, c);
}

void allStatusDue(WebServer* s) {
    for (WebConsoleSlot& k : s->consoles)
        if (k.wsi) {
            k.statusDue = true;
            lws_callback_on_writable(k.wsi);
        }
}

// The capture tap is open while some console listens.
void updateTap(WebServer* s) {
    bool any = false;
    for (const WebConsoleSlot& k : s->consoles)
        any |= k.wsi && k.listen;
    if (any != s->tapOpen)
        AudioTapOpen(any);
    s->tapOpen = any;
}

void controllerLeft(WebServer* s) {
    s->sessions.controller = -1;
    s->w->txLimit.console = 0;
    s->talk = false;
    WebKeysClear(&s->keys);
    s->w->webKeys = 0;
    // The guard may wait seconds for the power to fall: not on this thread.
    Works* w = s->w;
    StartJob(Job::WebGuard, 0, [w] { RemoteSessionEnded(w); });
    allStatusDue(s);
}

int sendStatus(lws* wsi, WebServer* s, WebConn* c) {
    char json[kStatusJsonMax];
    const size_t n = BuildStatusJson(s->w, json, sizeof json);
    unsigned char* body = c->out + LWS_PRE;
    const int len = std::snprintf(reinterpret_cast<char*>(body), kWebOutMax,
                                  "{\"status\":%.*s,\"control\":%s,\"free\":%s}", static_cast<int>(n), json,
                                  inControl(s, c) ? "true" : "false", s->sessions.controller < 0 ? "true" : "false");
    if (len <= 0 || static_cast<size_t>(len) >= kWebOutMax)
        return 0;
    return lws_write(wsi, body, static_cast<size_t>(len), LWS_WRITE_TEXT) < len ? -1 : 0;
}

int sendPicture(lws* wsi, WebServer* s, WebConsoleSlot* k) {
    s->message.assign(LWS_PRE, 0);
    const bool made = WebPictureMessage(s->picture, k->pending, &s->message);
    k->pending.clear();
    k->lastPictureMs = plat_mono_ms();
    if (!made)
        return 0;
    const size_t n = s->message.size() - LWS_PRE;
    // A slow browser takes what it can; libwebsockets keeps the rest and asks
    // for no more until it is gone, so changes meanwhile only merge.
    return lws_write(wsi, s->message.data() + LWS_PRE, n, LWS_WRITE_BINARY) < static_cast<int>(n) ? -1 : 0;
}

void ask(WebServer* s, WebConn* c, const char* text, size_t n) {
    int key = 0;
    const WebAsk a = WebParseAsk(text, n, &key);
    WebConsoleSlot& slot = s->consoles[c->slot];
    const int64_t now = plat_mono_ms();
    switch (a) {
    case WebAsk::Take:
        if (s->sessions.controller < 0 && consoleSession(s, c)) {
            s->sessions.controller = c->session;
            LogInfo("web: %s takes control", c->peer);
            allStatusDue(s);
        }
        return;
    case WebAsk::KeyDown:
    case WebAsk::KeyUp:
        if (!inControl(s, c))
            return; // a watcher's keys do nothing
        if (a == WebAsk::KeyDown)
            WebKeyDown(&s->keys, key, now);
        else
            WebKeyUp(&s->keys, key, now);
        s->w->webKeys = s->keys.held;
        return;
    case WebAsk::Listen:
        slot.listen = key;
        slot.audio.clear();
        slot.packets.clear();
        updateTap(s);
        return;
    case WebAsk::Talk:
        if (!inControl(s, c))
            return;
        if (s->talk != (key != 0))
            LogInfo(key ? "web: %s talks" : "web: %s stops talking", c->peer);
        s->talk = key != 0;
        return;
    case WebAsk::Ack:
        // The controller's acknowledgement of the transmit time limit: the
        // reset key, as an operator's unit asks for it.
        if (!inControl(s, c) || s->w->txLimit.phase != kTxLocked)
            return;
        LogInfo("web: %s acknowledges the transmit time limit", c->peer);
        s->w->alarmResetAsked = 1;
        return;
    case WebAsk::None:
        if (!c->dropNoted)
            LogInfo("web: a message from %s that asks nothing known, dropped (told once)", c->peer);
        c->dropNoted = true;
        return;
    }
}

// The controller's microphone, while it holds "talk" and no remote operator's
// audio plays there.
void micReceived(WebServer* s, WebConn* c, const uint8_t* data, size_t n) {
    if (!WebMicSamples(data, n, &s->mic)) {
        if (!c->dropNoted)
            LogInfo("web: a binary message from %s that is no microphone block, dropped (told once)", c->peer);
        c->dropNoted = true;
        return;
    }
    if (inControl(s, c) && s->talk && !s->w->remoteConnected)
        PlayPcmAudio(s->w, s->mic.data(), s->mic.size());
}

int sendAudio(lws* wsi, WebServer* s, WebConsoleSlot* k) {
    if (!k->audio.empty())
        WebAudioMessage(k->audio, LWS_PRE, &s->message);
    else
        WebOpusMessage(k->packets, LWS_PRE, &s->message);
    k->audio.clear();
    k->packets.clear();
    const size_t n = s->message.size() - LWS_PRE;
    return lws_write(wsi, s->message.data() + LWS_PRE, n, LWS_WRITE_BINARY) < static_cast<int>(n) ? -1 : 0;
}

// What the station received since the last tick, to each console that
// listens, in its form; Opus is encoded once for all (PCM if it cannot be).
void tickAudio(WebServer* s) {
    s->raw.clear();
    WebAudioTake(&s->raw);
    if (s->raw.empty())
        return;
    bool opus = false;
    for (const WebConsoleSlot& k : s->consoles)
        opus |= k.wsi && k.listen == 2;
    s->packets.clear();
    if (opus && !WebOpusEncode(&s->opus, s->raw, &s->packets))
        for (WebConsoleSlot& k : s->consoles)
            if (k.listen == 2)
                k.listen = 1;
    s->heard.clear();
    WebAudioDecimate(&s->down, s->raw, &s->heard);
    for (WebConsoleSlot& k : s->consoles) {
        if (!k.wsi || !k.listen)
            continue;
        if (k.listen == 1)
            WebAudioQueue(&k.audio, s->heard);
        else {
            k.packets.insert(k.packets.end(), s->packets.begin(), s->packets.end());
            if (k.packets.size() > kWebOpusKeep)
                k.packets.erase(k.packets.begin(), k.packets.end() - static_cast<long>(kWebOpusKeep));
        }
        lws_callback_on_writable(k.wsi);
    }
}

} // namespace

bool WebAdmitConsole(lws* wsi, WebConn* c) {
    WebServer* s = serverOf(wsi);
    char uri[16];
    if (lws_hdr_copy(wsi, uri, sizeof uri, WSI_TOKEN_GET_URI) < 0 || std::strcmp(uri, "/ws") != 0)
        return false;
    WebSession* session = WebRequestSession(wsi, s);
    if (!session)
        return false;
    int used = 0;
    for (const WebConsoleSlot& k : s->consoles)
        used += k.wsi != nullptr;
    if (used >= kWebSockets) {
        LogInfo("web: %d consoles open, one more refused", used);
        return false;
    }
    c->session = static_cast<int>(session - s->sessions.s);
    std::memcpy(c->sessionId, session->id, sizeof c->sessionId);
    return true;
}

void WebConsoleOpened(lws* wsi, WebConn* c) {
    WebServer* s = serverOf(wsi);
    c->slot = -1;
    for (int i = 0; i < kWebSockets; i++)
        if (!s->consoles[i].wsi) {
            c->slot = i;
            break;
        }
    if (c->slot < 0)
        return; // admitted against the same count: cannot happen
    WebConsoleSlot& k = s->consoles[c->slot];
    k.wsi = wsi;
    k.statusDue = true;
    k.pending.clear();
    k.lastPictureMs = 0;
    k.listen = 0;
    k.audio.clear();
    k.packets.clear();
    // A console after the first gets the whole picture as last taken; the
    // first one's comes with the first take.
    if (s->picture.taken)
        k.pending.push_back(PixelRect{0, 0, s->picture.width, s->picture.height});
    c->socket = true;
    WebSession* session = consoleSession(s, c);
    if (session) {
        session->sockets++;
        if (s->sessions.controller < 0)
            s->sessions.controller = c->session;
    }
    WebPeerOf(wsi, c);
    LogInfo("web: console opened from %s", c->peer);
    lws_callback_on_writable(wsi);
    // Sooner than the idle tick: the picture is taken now.
    lws_sul_schedule(s->ctx, 0, &s->tick, s->tick.cb, 0);
}

void WebConsoleClosed(lws* wsi, WebConn* c) {
    WebServer* s = serverOf(wsi);
    if (c->slot >= 0 && c->slot < kWebSockets && s->consoles[c->slot].wsi == wsi) {
        WebConsoleSlot& k = s->consoles[c->slot];
        k.wsi = nullptr;
        k.pending.clear();
        k.listen = 0;
        k.audio.clear();
        k.packets.clear();
        updateTap(s);
    }
    WebSession* session = consoleSession(s, c);
    if (session && --session->sockets <= 0) {
        session->sockets = 0;
        if (s->sessions.controller == c->session) {
            LogInfo("web: the console in control left (%s)", c->peer);
            controllerLeft(s);
        }
    }
    LogInfo("web: console closed from %s", c->peer);
}

int WebConsoleWritable(lws* wsi, WebConn* c) {
    WebServer* s = serverOf(wsi);
    if (c->slot < 0 || c->slot >= kWebSockets || s->consoles[c->slot].wsi != wsi)
        return 0;
    WebConsoleSlot& k = s->consoles[c->slot];
    if (k.statusDue) {
        k.statusDue = false;
        if (!k.pending.empty() || !k.audio.empty() || !k.packets.empty())
            lws_callback_on_writable(wsi);
        return sendStatus(wsi, s, c);
    }
    if (!k.audio.empty() || !k.packets.empty()) {
        if (!k.pending.empty())
            lws_callback_on_writable(wsi);
        return sendAudio(wsi, s, &k);
    }
    if (k.pending.empty() || plat_mono_ms() - k.lastPictureMs < kPictureMs)
        return 0; // the next tick asks again
    return sendPicture(wsi, s, &k);
}

int WebConsoleReceived(lws* wsi, WebConn* c, const void* in, size_t len) {
    if (len > kWebMessageBytes || lws_remaining_packet_payload(wsi) > kWebMessageBytes) {
        lws_close_reason(wsi, LWS_CLOSE_STATUS_MESSAGE_TOO_LARGE, nullptr, 0);
        return -1;
    }
    // An ask or a microphone block is one frame; a fragmented message is dropped.
    WebServer* s = serverOf(wsi);
    if (c->slot < 0 || c->slot >= kWebSockets || s->consoles[c->slot].wsi != wsi)
        return 0;
    if (!lws_is_first_fragment(wsi) || !lws_is_final_fragment(wsi)) {
        if (!c->dropNoted)
            LogInfo("web: a fragmented message from %s dropped (told once)", c->peer);
        c->dropNoted = true;
        return 0;
    }
    if (lws_frame_is_binary(wsi))
        micReceived(s, c, static_cast<const uint8_t*>(in), len);
    else
        ask(s, c, static_cast<const char*>(in), len);
    return 0;
}

int WebConsolesTick(WebServer* s) {
    const int64_t now = plat_mono_ms();
    bool any = false;
    for (const WebConsoleSlot& k : s->consoles)
        any |= k.wsi != nullptr;
    FrameBuffer* fb = s->w->fb;
    if (any && fb) {
        s->changed.clear();
        WebPictureTake(fb, &s->picture, &s->changed);
        for (WebConsoleSlot& k : s->consoles) {
            if (!k.wsi || s->changed.empty())
                continue;
            k.pending.insert(k.pending.end(), s->changed.begin(), s->changed.end());
            fbMergeRects(&k.pending, kShownRects);
        }
    } else if (fb && s->picture.taken)
        WebPictureDrop(fb, &s->picture);
    if (WebKeysDue(&s->keys, now))
        s->w->webKeys = s->keys.held;
    // A console in control operates the station from elsewhere (remote/TxLimit.h).
    s->w->txLimit.console = s->sessions.controller >= 0 ? 1 : 0;
    if (s->tapOpen)
        tickAudio(s);
    if (now - s->lastStatusMs >= kWebStatusMs) {
        s->lastStatusMs = now;
        allStatusDue(s);
    }
    for (WebConsoleSlot& k : s->consoles)
        if (k.wsi && !k.pending.empty())
            lws_callback_on_writable(k.wsi);
    return any ? kPictureMs : kIdleTickMs;
}

void WebConsolesEnd(WebServer* s) {
    if (s->tapOpen)
        AudioTapOpen(false);
    s->tapOpen = false;
    WebOpusEnd(&s->opus);
    if (s->w->fb && s->picture.taken)
        WebPictureDrop(s->w->fb, &s->picture);
    WebKeysClear(&s->keys);
    s->w->webKeys = 0;
    s->w->txLimit.console = 0;
    StopJob(Job::WebGuard, 0);
}
