// Serial ports and the other byte streams of the links (the remote socket).
//
// One place opens a port with its line settings, waits for it against a
// deadline, reads and writes it, notices a hang-up, and cuts the ';'-ended
// texts of the ASCII protocols. Ports are opened non-blocking: every read waits
// in poll() first and a write that cannot go out is retried until its deadline,
// so a port whose far end stopped never holds a thread past its link's end.
//
// A hang-up (POLLHUP or POLLERR, or a read that returns nothing after poll said
// there was something) means the device went away: a pty whose master closed, a
// USB adapter pulled out. It never delivers again, so every link treats it the
// same way: it closes the port, reports it ("<link>: device %s went away" on its
// device-error page, or its alarm) and ends; the page's retry key opens it again.
#pragma once

#include "platform/Wait.h"

#include <cstddef>
#include <string>
#include <sys/types.h>
#include <termios.h>
#include <vector>

// Raw line settings: 8 data bits, receiver on, modem lines ignored, parity
// errors ignored, no input, output or line processing, reads return from the
// first byte (VMIN 1).
struct SerialLine {
    speed_t speed;
    tcflag_t extraCflag; // CSTOPB, HUPCL, ...
    cc_t vtime;          // tenths of a second between bytes
};

enum class SerialOpenError { None, Open, Settings };

// Opens `device` as the setup file names it (resolved under the root) read-write,
// non-blocking and without becoming the controlling terminal, flushes pending
// input and applies `line`. The descriptor, or -1 with `*error` telling which
// step failed (errno kept from it).
int plat_serial_open(const char* device, const SerialLine& line, SerialOpenError* error);
// The same for a path that is already resolved (a match of plat_serial_glob).
int plat_serial_open_resolved(const std::string& path, const SerialLine& line,
                              SerialOpenError* error);
// The resolved paths matching a shell pattern such as "/dev/KAVOCAT*", sorted.
std::vector<std::string> plat_serial_glob(const char* pattern);
// A resolved path as the program names it (the root taken off), for messages.
std::string plat_serial_name(const std::string& resolved);

// Waits until `fd` has bytes to read, at most `timeoutMs` of program time
// (negative: no deadline). `*waitedMs`, when given, grows by the time waited.
PortStatus plat_port_wait(int fd, int timeoutMs, const PortWanted& wanted, int* waitedMs = nullptr);
// Waits as plat_port_wait, then reads at most `n` bytes. The count read (> 0)
// with Ok; 0 with the reason otherwise (a read that finds nothing after the
// port polled readable is a hang-up).
ssize_t plat_port_read(int fd, void* buffer, size_t n, int timeoutMs, const PortWanted& wanted,
                       PortStatus* status, int* waitedMs = nullptr);
// Writes all `n` bytes, repeating short writes and waiting while the port takes
// nothing, until `timeoutMs` passes or `wanted` turns false. `*written` tells
// how much went out when it was not all.
PortStatus plat_port_write(int fd, const void* data, size_t n, int timeoutMs,
                           const PortWanted& wanted, size_t* written = nullptr);

// Collects the ';'-ended texts of the ASCII links (or the lines of a text
// protocol, `end` '\n'), one byte at a time. A text is at most `kMax` bytes, its
// end included; a longer one is dropped and collecting starts again with the
// next byte.
enum class TextStep { More, Text, Dropped };
TextStep plat_text_push(char* text, size_t max, size_t* len, bool* complete, char c, char end = ';');

template <size_t kMax, char kEnd = ';'> struct TextFramer {
    char text[kMax + 1]{}; // the text, its end and a NUL after it
    size_t len = 0;        // bytes of the text, its end included
    bool complete = false; // `text` holds a whole text until the next push

    TextStep push(char c) { return plat_text_push(text, kMax, &len, &complete, c, kEnd); }
    void reset() {
        len = 0;
        complete = false;
        text[0] = '\0';
    }
};
