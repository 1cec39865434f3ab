// The browser console's server: HTTPS and WebSocket on the setup's WebPort,
// through libwebsockets (OpenSSL underneath), on one thread ("web").
//
// Every request without a valid session gets the login page. The login is a
// POST to /login with the form field "code" (the unit's access code); it is
// throttled with the remote link's per-address back-off and global cap, and a
// success sets the session cookie and redirects to "/". With a session: "/" is
// the console's page, "/status.json" the amplifier's values, "/ws" the
// console's WebSocket (at most kWebSockets at once), other names the page's
// files from the www folder beside the skins.
#pragma once

struct Works;

constexpr int kWebSockets = 8;          // browsers at once
constexpr int kWebHeaderBytes = 4096;   // a request's headers, all of them
constexpr int kWebFormBytes = 256;      // the login form's body
constexpr int kWebMessageBytes = 4096;  // a browser's WebSocket message
constexpr int kWebStatusMs = 1000;      // the values to each console
constexpr const char* kWebRoot = "../www"; // beside the skins folder, the working directory

// The thread's body: serves until the program ends or the thread is
// restarted; returns at once (logged) when the port or the certificate is
// missing.
void WebConsole(Works* works);
