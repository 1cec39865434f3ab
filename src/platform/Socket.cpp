// TCP sockets: listen, accept, resolve, connect, all against deadlines.
#include "platform/Socket.h"

#include "platform/Clock.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <linux/sockios.h>
#include <netinet/tcp.h>
#include <sys/ioctl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// Non-blocking, no delay for the small frames, and keepalive probes that end a
// session whose peer vanished without closing (a pulled cable) within a minute.
void sessionOptions(int fd) {
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
    int idle = 20, interval = 5, count = 4;
    setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof idle);
    setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof interval);
    setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &count, sizeof count);
}

// An IPv4 address inside IPv6 (::ffff:a.b.c.d) as the IPv4 address it is.
void unmapped(sockaddr_storage* a) {
    if (a->ss_family != AF_INET6)
        return;
    const sockaddr_in6 six = *reinterpret_cast<const sockaddr_in6*>(a);
    if (!IN6_IS_ADDR_V4MAPPED(&six.sin6_addr))
        return;
    sockaddr_in four{};
    four.sin_family = AF_INET;
    four.sin_port = six.sin6_port;
    std::memcpy(&four.sin_addr, six.sin6_addr.s6_addr + 12, 4);
    *a = sockaddr_storage{};
    std::memcpy(a, &four, sizeof four);
}

} // namespace

int plat_tcp_listen_on(const char* address, int port, int backlog, TcpListenError* error) {
    *error = TcpListenError::None;
    sockaddr_storage a{};
    socklen_t len = 0;
    auto* four = reinterpret_cast<sockaddr_in*>(&a);
    auto* six = reinterpret_cast<sockaddr_in6*>(&a);
    if (inet_pton(AF_INET, address, &four->sin_addr) == 1) {
        four->sin_family = AF_INET;
        four->sin_port = htons(static_cast<uint16_t>(port));
        len = sizeof *four;
    } else if (inet_pton(AF_INET6, address, &six->sin6_addr) == 1) {
        six->sin6_family = AF_INET6;
        six->sin6_port = htons(static_cast<uint16_t>(port));
        len = sizeof *six;
    } else {
        *error = TcpListenError::Address;
        errno = EINVAL;
        return -1;
    }
    const int fd = socket(a.ss_family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        *error = TcpListenError::Socket;
        return -1;
    }
    int on = 1, off = 0;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    // "::" means every address, the IPv4 ones too, whatever the system's default.
    if (a.ss_family == AF_INET6 && IN6_IS_ADDR_UNSPECIFIED(&six->sin6_addr))
        setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &off, sizeof off);
    const bool bound = bind(fd, reinterpret_cast<sockaddr*>(&a), len) == 0;
    if (!bound || listen(fd, backlog) != 0) {
        const int e = errno;
        close(fd);
        errno = e;
        *error = bound ? TcpListenError::Listen : TcpListenError::Bind;
        return -1;
    }
    return fd;
}

int plat_tcp_accept_now(int listenFd, TcpPeer* peer) {
    for (;;) {
        *peer = TcpPeer{};
        socklen_t len = sizeof peer->address;
        const int fd = accept4(listenFd, reinterpret_cast<sockaddr*>(&peer->address), &len, SOCK_CLOEXEC);
        if (fd < 0 && (errno == EINTR || errno == ECONNABORTED))
            continue; // one that gave up while it waited: the next
        if (fd < 0)
            return -1;
        sessionOptions(fd);
        unmapped(&peer->address);
        const void* at = peer->address.ss_family == AF_INET6
                             ? static_cast<const void*>(&reinterpret_cast<sockaddr_in6*>(&peer->address)->sin6_addr)
                             : static_cast<const void*>(&reinterpret_cast<sockaddr_in*>(&peer->address)->sin_addr);
        inet_ntop(peer->address.ss_family, at, peer->text, sizeof peer->text);
        return fd;
    }
}

int plat_tcp_listen(int port, int backlog, TcpListenError* error) {
    *error = TcpListenError::None;
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        *error = TcpListenError::Socket;
        return -1;
    }
    int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_ANY);
    a.sin_port = htons(static_cast<uint16_t>(port));
    if (bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        const int e = errno;
        close(fd);
        errno = e;
        *error = TcpListenError::Bind;
        return -1;
    }
    if (listen(fd, backlog) != 0) {
        const int e = errno;
        close(fd);
        errno = e;
        *error = TcpListenError::Listen;
        return -1;
    }
    return fd;
}

int plat_tcp_accept(int listenFd, const PortWanted& wanted, std::string* peer, PortStatus* status) {
    for (;;) {
        *status = plat_port_wait(listenFd, -1, wanted);
        if (*status != PortStatus::Ok)
            return -1;
        sockaddr_in a{};
        socklen_t len = sizeof a;
        const int fd = accept4(listenFd, reinterpret_cast<sockaddr*>(&a), &len, SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EAGAIN || errno == EINTR || errno == ECONNABORTED)
                continue;
            *status = PortStatus::Failed;
            return -1;
        }
        sessionOptions(fd);
        char text[INET_ADDRSTRLEN] = "";
        inet_ntop(AF_INET, &a.sin_addr, text, sizeof text);
        if (peer)
            *peer = text;
        return fd;
    }
}

int plat_tcp_socket() { return socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0); }

bool plat_tcp_resolve(const char* host, int port, sockaddr_in* address) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(host, nullptr, &hints, &found) != 0 || !found)
        return false;
    *address = *reinterpret_cast<sockaddr_in*>(found->ai_addr);
    address->sin_port = htons(static_cast<uint16_t>(port));
    freeaddrinfo(found);
    return true;
}

PortStatus plat_tcp_connect(int fd, const sockaddr_in& address, int timeoutMs,
                            const PortWanted& wanted) {
    if (connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) {
        sessionOptions(fd);
        return PortStatus::Ok;
    }
    if (errno != EINPROGRESS)
        return PortStatus::Failed;
    const PortStatus st = plat_wait_fd(fd, POLLOUT, timeoutMs, wanted);
    if (st != PortStatus::Ok)
        return st;
    int err = 0;
    socklen_t len = sizeof err;
    getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len);
    if (err != 0) {
        errno = err;
        return PortStatus::Failed;
    }
    sessionOptions(fd);
    return PortStatus::Ok;
}

int plat_tcp_local_port(int fd) {
    sockaddr_in a{};
    socklen_t len = sizeof a;
    if (getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) != 0)
        return -1;
    return ntohs(a.sin_port);
}

int plat_socket_send_room(int fd) {
    int size = 0, queued = 0;
    socklen_t len = sizeof size;
    if (getsockopt(fd, SOL_SOCKET, SO_SNDBUF, &size, &len) != 0 || ioctl(fd, SIOCOUTQ, &queued) != 0)
        return -1;
    // The kernel doubles the size asked for and counts its own overhead in it;
    // half of it is what data may take.
    const int room = size / 2 - queued;
    return room > 0 ? room : 0;
}

ssize_t plat_socket_send_now(int fd, const void* data, size_t n) {
    for (;;) {
        const ssize_t r = send(fd, data, n, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (r >= 0)
            return r;
        if (errno == EINTR)
            continue;
        return errno == EAGAIN || errno == EWOULDBLOCK ? 0 : -1;
    }
}

ssize_t plat_socket_recv_now(int fd, void* buffer, size_t n) {
    for (;;) {
        const ssize_t r = recv(fd, buffer, n, MSG_DONTWAIT);
        if (r > 0)
            return r;
        if (r == 0)
            return -1; // the peer's end
        if (errno == EINTR)
            continue;
        return errno == EAGAIN || errno == EWOULDBLOCK ? 0 : -1;
    }
}

void plat_socket_shutdown(int fd) { shutdown(fd, SHUT_RDWR); }

int plat_random_bytes(uint8_t* out, size_t n) {
    const int fd = open("/dev/urandom", O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return -1;
    size_t have = 0;
    while (have < n) {
        const ssize_t r = read(fd, out + have, n - have);
        if (r < 0 && errno == EINTR)
            continue;
        if (r <= 0)
            break;
        have += static_cast<size_t>(r);
    }
    const int e = errno;
    close(fd);
    errno = e;
    return have == n ? 0 : static_cast<int>(have);
}

