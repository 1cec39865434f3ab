// The console server's state, shared by its HTTP side (Console.cpp) and its
// WebSocket consoles (Consoles.cpp). Only the server's thread touches it.
#pragma once

#include "platform/Thread.h"
#include "web/Audio.h"
#include "web/Console.h"
#include "web/Control.h"
#include "web/Picture.h"
#include "web/Sessions.h"
#include "web/StatusJson.h"

#include <libwebsockets.h>
#include <string>
#include <vector>

struct Works;

constexpr size_t kWebOutMax = kStatusJsonMax + 64;

// One console WebSocket.
struct WebConsoleSlot {
    lws* wsi = nullptr;
    std::vector<PixelRect> pending; // of the picture, not yet sent to it
    bool statusDue = false;
    int64_t lastPictureMs = 0;
    int listen = 0;             // the station's audio: 0 off, 1 PCM, 2 Opus
    std::vector<int16_t> audio; // of it, not yet sent (PCM)
    std::vector<std::vector<uint8_t>> packets; // or Opus
};

struct WebServer {
    Works* w = nullptr;
    WebSessions sessions;
    WebConsoleSlot consoles[kWebSockets];
    WebPicture picture;
    std::vector<PixelRect> changed; // the last take's rectangles
    std::vector<uint8_t> message;   // the update being sent
    WebKeys keys;                   // the controller's
    bool talk = false;              // the controller holds "talk"
    bool tapOpen = false;           // some console listens
    WebAudioDown down;
    WebOpus opus;
    std::vector<int16_t> raw, heard, mic;
    std::vector<std::vector<uint8_t>> packets;
    std::string loginPage;
    lws_sorted_usec_list_t tick{};
    lws_context* ctx = nullptr;
    int64_t lastStatusMs = 0;
};

// One connection's state, zeroed by libwebsockets when it opens.
struct WebConn {
    char peer[48];
    // A small response waiting for its turn to write: its body after the
    // room libwebsockets needs in front of it.
    bool pending, closeAfter;
    size_t outLen;
    unsigned char out[LWS_PRE + kWebOutMax];
    // The login form's body as it arrives; POSTs elsewhere are refused, a
    // throttled one is read and answered 429.
    bool login, formTooLong, throttled;
    size_t formLen;
    char form[kWebFormBytes];
    // A console WebSocket: its session, checked again at each use (a newer
    // login may have taken its place in the table), and its slot.
    int session;
    char sessionId[kWebSessionIdChars + 1];
    bool socket;
    int slot;
    bool dropNoted; // a message it sent was dropped and logged: later ones are not
};

inline WebServer* serverOf(lws* wsi) { return static_cast<WebServer*>(lws_context_user(lws_get_context(wsi))); }
// The live session of a request's cookie; nullptr without one.
WebSession* WebRequestSession(lws* wsi, WebServer* s);
// The peer's address as the remote link writes it.
void WebPeerOf(lws* wsi, WebConn* c);

// The console WebSockets' callbacks (Consoles.cpp).
bool WebAdmitConsole(lws* wsi, WebConn* c);
void WebConsoleOpened(lws* wsi, WebConn* c);
void WebConsoleClosed(lws* wsi, WebConn* c);
int WebConsoleWritable(lws* wsi, WebConn* c);
int WebConsoleReceived(lws* wsi, WebConn* c, const void* in, size_t len);
// The server's tick: the picture's changes, the keys' releases, the values
// each second. Returns the time to the next tick in ms.
int WebConsolesTick(WebServer* s);
// The end of the server: the picture is no longer watched, the keys released.
void WebConsolesEnd(WebServer* s);
