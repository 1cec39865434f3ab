// The WebSocket server and client threads of remote operation.
#pragma once

#include "wire/Tls.h"

struct Works;
struct RemoteSession;
struct WsFrame;

void Wsocket(Works* works);
void Wclient(Works* works);

// The server makes an authenticated connection the session unless one is up
// (logged, false). The senders then write to `fd`.
bool RemoteClaimSession(Works* works, int fd, const char* peer);

// A stranger's connection on `fd` up to its code, within 5 s: TLS keyed by the
// code (or the plain dialect where RemotePlain allows it), the handshake, the
// code frame. True when the code was right: the dialect goes on on `fd`, through
// `*link` when it is TLS. False for every other end, which counts against the
// address.
bool RemoteAuthenticate(Works* works, int fd, const char* peer, RemoteSession* session, WsFrame* frame,
                        TlsLinkPtr* link);
