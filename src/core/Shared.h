// Field types for state that several threads read and write without a lock.
//
// The panel's threads share one record and exchange single values through it:
// the link thread writes measurements, the refresh thread reads them, the key
// thread changes settings. Each such value is one atomic with relaxed order,
// which is all these single values need; publication of a text before its code
// uses the release/acquire pair. The wrappers keep the code reading like plain
// fields (`w->freqHz = f; int g = w->freqHz;`). A write that changes a value is
// counted (core/Changes.h), so a thread may sleep while nothing changes.
#pragma once

#include "core/Changes.h"

#include <atomic>
#include <cstddef>
#include <cstring>
#include <type_traits>

// `kCounted` false: bookkeeping that nothing draws (a link's state machine),
// written at every step, whose changes would only wake the refresh tick.
template <typename T, bool kCounted = true> struct Shared {
    std::atomic<T> v{};

    Shared() = default;
    Shared(const Shared&) = delete;
    Shared& operator=(const Shared&) = delete;

    T load() const { return v.load(std::memory_order_relaxed); }
    void store(T x) { noted(v.exchange(x, std::memory_order_relaxed), x); }
    T loadAcquire() const { return v.load(std::memory_order_acquire); }
    void storeRelease(T x) { noted(v.exchange(x, std::memory_order_release), x); }
    T exchange(T x) { return noted(v.exchange(x, std::memory_order_acq_rel), x); }
    bool compareExchange(T& expected, T desired) {
        const T was = expected;
        if (!v.compare_exchange_strong(expected, desired, std::memory_order_acq_rel))
            return false;
        noted(was, desired);
        return true;
    }

    operator T() const { return load(); }
    Shared& operator=(T x) {
        store(x);
        return *this;
    }

    Shared& operator+=(T x) {
        rmw([x](T o) { return static_cast<T>(o + x); });
        return *this;
    }
    Shared& operator-=(T x) {
        rmw([x](T o) { return static_cast<T>(o - x); });
        return *this;
    }
    Shared& operator|=(T x) {
        rmw([x](T o) { return static_cast<T>(o | x); });
        return *this;
    }
    Shared& operator&=(T x) {
        rmw([x](T o) { return static_cast<T>(o & x); });
        return *this;
    }
    Shared& operator^=(T x) {
        rmw([x](T o) { return static_cast<T>(o ^ x); });
        return *this;
    }
    T operator++() { return rmw([](T o) { return static_cast<T>(o + 1); }); }
    T operator--() { return rmw([](T o) { return static_cast<T>(o - 1); }); }
    T operator++(int) { return static_cast<T>(operator++() - 1); }
    T operator--(int) { return static_cast<T>(operator--() + 1); }

  private:
    // Read-modify-write as one step; returns the new value.
    template <typename F> T rmw(F f) {
        T o = v.load(std::memory_order_relaxed);
        T n = f(o);
        while (!v.compare_exchange_weak(o, n, std::memory_order_relaxed))
            n = f(o);
        noted(o, n);
        return n;
    }
    static T noted(T was, T now) {
        if (kCounted && !(was == now))
            ChangesNote();
        return was;
    }
};

// A byte of bit flags that several threads set and clear: each operation is one
// atomic step on the whole byte, and there is no assignment, so a bit that one
// thread sets can never be lost to another thread's read-modify-write.
template <typename T> struct SharedFlags {
    static_assert(std::is_unsigned_v<T>);
    std::atomic<T> v{};

    SharedFlags() = default;
    SharedFlags(const SharedFlags&) = delete;
    SharedFlags& operator=(const SharedFlags&) = delete;

    T load() const { return v.load(std::memory_order_relaxed); }
    // True when any of `bits` is set.
    bool test(T bits) const { return (load() & bits) != 0; }
    // Each returns the value before.
    T set(T bits) { return noted(v.fetch_or(bits, std::memory_order_relaxed), bits, 0); }
    T clear(T bits) { return noted(v.fetch_and(static_cast<T>(~bits), std::memory_order_relaxed), 0, bits); }
    T toggle(T bits) {
        const T was = v.fetch_xor(bits, std::memory_order_relaxed);
        if (bits != 0)
            ChangesNote();
        return was;
    }
    // Clears `off` and sets `on` in one step.
    T change(T off, T on) {
        T o = load();
        while (!v.compare_exchange_weak(o, static_cast<T>((o & ~off) | on), std::memory_order_relaxed)) {
        }
        if (static_cast<T>((o & ~off) | on) != o)
            ChangesNote();
        return o;
    }
    // `to` in place of `expected`, only while the byte still is `expected`;
    // otherwise false, with `expected` now holding what the byte is.
    bool compareExchange(T& expected, T to) {
        const T was = expected;
        if (!v.compare_exchange_strong(expected, to, std::memory_order_relaxed))
            return false;
        if (was != to)
            ChangesNote();
        return true;
    }
    // Replaces every bit: for start values and a value read from the setup file.
    void replace(T value) {
        if (v.exchange(value, std::memory_order_relaxed) != value)
            ChangesNote();
    }

  private:
    // `was` with `on` set and `off` cleared: a change when that differs.
    static T noted(T was, T on, T off) {
        if (static_cast<T>((was | on) & ~off) != was)
            ChangesNote();
        return was;
    }
};

// A view of any SharedText<N>, for code that handles texts of several sizes.
struct TextRef {
    std::atomic<char>* c;
    size_t n;
    bool counted = true; // a change is counted (core/Changes.h)

    // Copies at most n-1 characters; returns false when `text` was cut.
    bool setN(const char* text, size_t len) const {
        size_t k = len < n - 1 ? len : n - 1;
        bool changed = false;
        for (size_t i = 0; i < k; i++)
            changed |= c[i].exchange(text[i], std::memory_order_relaxed) != text[i];
        changed |= c[k].exchange('\0', std::memory_order_relaxed) != '\0';
        if (changed && counted)
            ChangesNote();
        return k == len;
    }
    bool set(const char* text) const { return setN(text, text ? std::strlen(text) : 0); }
    void copyTo(char* out, size_t outSize) const {
        if (outSize == 0)
            return;
        size_t i = 0;
        for (; i + 1 < outSize && i < n; i++) {
            out[i] = c[i].load(std::memory_order_relaxed);
            if (out[i] == '\0')
                return;
        }
        out[i] = '\0';
    }
};

// A copy of a shared text, for formatting: `printf("%s", w->dateText.get().s)`.
template <size_t N> struct TextCopy {
    char s[N];
};

// A NUL-terminated text of N bytes (N-1 characters at most) that one thread writes
// and others read. A reader racing a writer may see a mix of old and new
// characters, never bytes past the field.
template <size_t N, bool kCounted = true> struct SharedText {
    static_assert(N >= 1);
    std::atomic<char> c[N]{};

    SharedText() = default;
    SharedText(const SharedText&) = delete;
    SharedText& operator=(const SharedText&) = delete;

    static constexpr size_t capacity() { return N; }

    TextRef ref() const { return TextRef{const_cast<std::atomic<char>*>(c), N, kCounted}; }

    // Copies at most N-1 characters; returns false when `text` was cut.
    bool set(const char* text) { return ref().set(text); }
    bool setN(const char* text, size_t len) { return ref().setN(text, len); }
    // Raw byte access, for fields that the protocol treats as fixed bytes.
    char at(size_t i) const { return c[i].load(std::memory_order_relaxed); }
    void put(size_t i, char x) {
        if (c[i].exchange(x, std::memory_order_relaxed) != x && kCounted)
            ChangesNote();
    }

    void copyTo(char* out, size_t outSize) const { ref().copyTo(out, outSize); }
    TextCopy<N + 1> get() const {
        TextCopy<N + 1> t;
        copyTo(t.s, sizeof t.s);
        return t;
    }
    size_t length() const {
        size_t i = 0;
        while (i < N && c[i].load(std::memory_order_relaxed) != '\0')
            i++;
        return i;
    }
    bool equals(const char* text) const { return std::strcmp(get().s, text) == 0; }
};

template <typename T> using QuietShared = Shared<T, false>;
template <size_t N> using QuietText = SharedText<N, false>;
