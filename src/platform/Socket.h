// TCP sockets of the remote link and of the amplifier protocol's server, and
// the random bytes of the link's handshake.
//
// Every socket is non-blocking: accept, connect, reads and writes wait in poll()
// against a deadline and the caller's wish (PortWanted), so the remote threads
// notice the end of the program within one wait slice. Reads and writes of a
// connected socket use the waits and transfers of SerialPort.h.
#pragma once

#include "platform/SerialPort.h"

#include <cstddef>
#include <cstdint>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>

enum class TcpListenError { None, Socket, Bind, Listen, Address };

// A peer's address, IPv4 or IPv6, and its text. An IPv4 client of a socket
// that listens on "::" is given as the IPv4 address it is ("127.0.0.1", not
// "::ffff:127.0.0.1"), so that one rule covers it however it came.
struct TcpPeer {
    sockaddr_storage address{};
    char text[INET6_ADDRSTRLEN] = "";
};

// A listening socket on any address at `port` (SO_REUSEADDR set), or -1 with
// `*error` telling which step failed (errno kept).
int plat_tcp_listen(int port, int backlog, TcpListenError* error);
// A listening socket on `address`, an IPv4 or IPv6 literal ("127.0.0.1",
// "::1"; "0.0.0.0" or "::" for every address, "::" taking IPv4 clients too),
// at `port` (SO_REUSEADDR set), non-blocking; or -1 with `*error` telling which
// step failed (Address: not such a literal; errno kept).
int plat_tcp_listen_on(const char* address, int port, int backlog, TcpListenError* error);
// Takes one connection that waits on `listenFd`, without waiting: its
// descriptor, with the options of plat_tcp_accept, and `*peer`; -1 when none
// waits (errno EAGAIN) or on an error (errno kept).
int plat_tcp_accept_now(int listenFd, TcpPeer* peer);
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

// For a thread that serves several sockets from one poll(): what a connected,
// non-blocking socket takes or gives at once, never waiting. The bytes sent or
// read (> 0); 0 when its buffer is full or nothing waits; -1 when the peer has
// gone (its end read, a reset) or on an error (errno kept).
ssize_t plat_socket_send_now(int fd, const void* data, size_t n);
ssize_t plat_socket_recv_now(int fd, void* buffer, size_t n);

// Bytes a connected socket's send buffer takes at once (its size less what
// still waits in it); -1 when that cannot be known.
int plat_socket_send_room(int fd);

// Shuts a connected socket both ways: whoever reads it sees its end.
void plat_socket_shutdown(int fd);

// Reads `n` bytes of the machine's random source (never the root's); 0, or -1
// when it cannot be opened, or the count read when that is short.
int plat_random_bytes(uint8_t* out, size_t n);
