// TCP sockets of the remote link, and the random bytes of its handshake.
//
// Every socket is non-blocking: accept, connect, reads and writes wait in poll()
// against a deadline and the caller's wish (PortWanted), so the remote threads
// notice the end of the program within one wait slice. Reads and writes of a
// connected socket use the waits and transfers of SerialPort.h.
#pragma once

#include "platform/SerialPort.h"

#include <cstddef>
#include <cstdint>
#include <netinet/in.h>
#include <string>

enum class TcpListenError { None, Socket, Bind, Listen };

// A listening socket on any address at `port` (SO_REUSEADDR set), or -1 with
// `*error` telling which step failed (errno kept).
int plat_tcp_listen(int port, int backlog, TcpListenError* error);
// Waits for a connection on `listenFd`; its descriptor (non-blocking, with
// keepalive so that a peer that vanished is noticed) and the peer's dotted
// address, or -1 with `*status` Stopped or Failed (errno kept).
int plat_tcp_accept(int listenFd, const PortWanted& wanted, std::string* peer, PortStatus* status);
// A new TCP socket, or -1 (errno kept).
int plat_tcp_socket();
// The IPv4 address of `host` ("127.0.0.1" or a name) with `port`; false when
// the name does not resolve.
bool plat_tcp_resolve(const char* host, int port, sockaddr_in* address);
// Connects `fd` to `address` within `timeoutMs`; Ok, or why not (errno kept).
// The socket then has the session options of plat_tcp_accept.
PortStatus plat_tcp_connect(int fd, const sockaddr_in& address, int timeoutMs,
                            const PortWanted& wanted);
// The port a listening socket was bound to (for tests that listen on port 0).
int plat_tcp_local_port(int fd);

// Bytes a connected socket's send buffer takes at once (its size less what
// still waits in it); -1 when that cannot be known.
int plat_socket_send_room(int fd);

// Shuts a connected socket both ways: whoever reads it sees its end.
void plat_socket_shutdown(int fd);

// Reads `n` bytes of the machine's random source (never the root's); 0, or -1
// when it cannot be opened, or the count read when that is short.
int plat_random_bytes(uint8_t* out, size_t n);
