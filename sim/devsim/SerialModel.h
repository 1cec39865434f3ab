// The serial side the request/reply device models share (amplifier, FT-817, CAT port).
//
// A thread owns the master side of the model's pty: it hands what the panel sends
// to the model, under the model's own lock, and writes the model's replies when
// they are due, one after the other as a single UART would send them. An eventfd
// wakes it early, to stop or to look at a reply queued from another thread.
#pragma once

#include "devsim/Pty.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

struct SerialReply {
    int64_t dueUs; // plat_mono_us
    std::string bytes;
};

struct SerialModel {
    SimPty pty;
    int wakeFd = -1;
    std::thread thread;
    std::atomic<bool> stop{false};
    std::function<void(const char*, size_t)> feed;
    int64_t byteUs = 0;    // one byte on the wire
    size_t maxPending = 0; // replies waiting before the oldest is dropped; 0: no limit

    // Guarded by the model's lock.
    std::mutex* mu = nullptr;
    std::deque<SerialReply> pending;
    size_t pendingBytes = 0;
    int64_t lastDueUs = 0;
    int written = 0; // replies handed to the wire so far
};

// Opens the pty, links it at `linkPath` and starts the thread, which calls
// `feedLocked` with what it reads while holding `*mu`; false on failure, with
// nothing left open.
bool SerialModelStart(SerialModel* s, const std::string& linkPath, std::mutex* mu,
                      int64_t byteUs, size_t maxPending,
                      std::function<void(const char*, size_t)> feedLocked);
// Ends the thread, closes the pty and removes the link.
void SerialModelStop(SerialModel* s);
// Makes the thread look at the queue now rather than at its next deadline.
void SerialModelWake(SerialModel* s);

// Queues `bytes` to be written `delayUs` from now plus their time on the wire,
// never before a reply queued earlier; empty bytes are ignored. Caller holds *mu.
void SerialModelReplyLocked(SerialModel* s, std::string bytes, int64_t delayUs);
// Drops every reply not written yet. Caller holds *mu.
void SerialModelClearLocked(SerialModel* s);

// ';'-terminated ASCII texts, as the amplifier and the CAT port take them in.
struct SerialTexts {
    std::string buf;
    bool dropping = false;
};
// Calls `take` with each text `data` completes, without its ';'. Bytes outside
// 0x20..0x7E are line noise and left out; a text longer than `max` is dropped, up
// to its ';'.
void SerialTextsFeed(SerialTexts* t, size_t max, const char* data, size_t n,
                     const std::function<void(const std::string&)>& take);
// Forgets a partial text.
void SerialTextsReset(SerialTexts* t);
