// Field types for state that several threads read and write without a lock.
//
// The panel's threads share one record and exchange single values through it:
// the link thread writes measurements, the refresh thread reads them, the key
// thread changes settings. Each such value is one atomic with relaxed order,
// which is all these single values need; publication of a text before its code
// uses the release/acquire pair. The wrappers keep the code reading like plain
// fields (`w->freqHz = f; int g = w->freqHz;`).
#pragma once

#include <atomic>
#include <cstddef>
#include <cstring>
#include <type_traits>

template <typename T> struct Shared {
    std::atomic<T> v{};

    Shared() = default;
    Shared(const Shared&) = delete;
    Shared& operator=(const Shared&) = delete;

    T load() const { return v.load(std::memory_order_relaxed); }
    void store(T x) { v.store(x, std::memory_order_relaxed); }
    T loadAcquire() const { return v.load(std::memory_order_acquire); }
    void storeRelease(T x) { v.store(x, std::memory_order_release); }
    T exchange(T x) { return v.exchange(x, std::memory_order_acq_rel); }
    bool compareExchange(T& expected, T desired) {
        return v.compare_exchange_strong(expected, desired, std::memory_order_acq_rel);
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
        return n;
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
    T set(T bits) { return v.fetch_or(bits, std::memory_order_relaxed); }
    T clear(T bits) { return v.fetch_and(static_cast<T>(~bits), std::memory_order_relaxed); }
    T toggle(T bits) { return v.fetch_xor(bits, std::memory_order_relaxed); }
    // Clears `off` and sets `on` in one step.
    T change(T off, T on) {
        T o = load();
        while (!v.compare_exchange_weak(o, static_cast<T>((o & ~off) | on), std::memory_order_relaxed)) {
        }
        return o;
    }
    // `to` in place of `expected`, only while the byte still is `expected`;
    // otherwise false, with `expected` now holding what the byte is.
    bool compareExchange(T& expected, T to) {
        return v.compare_exchange_strong(expected, to, std::memory_order_relaxed);
    }
    // Replaces every bit: for start values and a value read from the setup file.
    void replace(T value) { v.store(value, std::memory_order_relaxed); }
};

// A view of any SharedText<N>, for code that handles texts of several sizes.
struct TextRef {
    std::atomic<char>* c;
    size_t n;

    // Copies at most n-1 characters; returns false when `text` was cut.
    bool setN(const char* text, size_t len) const {
        size_t k = len < n - 1 ? len : n - 1;
        for (size_t i = 0; i < k; i++)
            c[i].store(text[i], std::memory_order_relaxed);
        c[k].store('\0', std::memory_order_relaxed);
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
template <size_t N> struct SharedText {
    static_assert(N >= 1);
    std::atomic<char> c[N]{};

    SharedText() = default;
    SharedText(const SharedText&) = delete;
    SharedText& operator=(const SharedText&) = delete;

    static constexpr size_t capacity() { return N; }

    TextRef ref() const { return TextRef{const_cast<std::atomic<char>*>(c), N}; }

    // Copies at most N-1 characters; returns false when `text` was cut.
    bool set(const char* text) { return ref().set(text); }
    bool setN(const char* text, size_t len) { return ref().setN(text, len); }
    // Raw byte access, for fields that the protocol treats as fixed bytes.
    char at(size_t i) const { return c[i].load(std::memory_order_relaxed); }
    void put(size_t i, char x) { c[i].store(x, std::memory_order_relaxed); }

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
