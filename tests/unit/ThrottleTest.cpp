// The remote link's key from the code, and the server's back-off per address
// and its cap over all addresses.
#include "remote/Throttle.h"
#include "wire/Tls.h"

namespace {

// The key of the README's recipe (Python's hashlib computed this one), so an
// operator's own tools and the units agree.
TEST(TlsKey, IsPbkdf2OfTheCodeAsPythonComputesIt) {
    TlsPsk psk;
    ASSERT_TRUE(TlsPskFor("ABCDEFGHJKLM", &psk));
    EXPECT_EQ(TlsPskHex(psk), "37b521759528b6286db2572e9dcf6f382628ef3a7b7e4ff2f8a097280ca577a9");
}

std::string addr(int i) { return "10.0." + std::to_string(i / 256) + "." + std::to_string(i % 256); }

TEST(Throttle, EachFailureDoublesTheWaitUpToFiveMinutesAndASuccessClearsIt) {
    auto t = std::make_unique<Throttle>();
    int64_t now = 1000000;
    EXPECT_EQ(ThrottleAdmit(t.get(), "192.0.2.1", now), Admit::Yes);
    const int64_t expected[] = {1000, 2000, 4000, 8000, 16000, 32000, 64000, 128000, 256000, 300000, 300000};
    for (int64_t pause : expected) {
        ThrottleFailure(t.get(), "192.0.2.1", now);
        EXPECT_EQ(ThrottleAdmit(t.get(), "192.0.2.1", now + pause - 1), Admit::AddressBlocked) << pause;
        // Another address is not held back by it.
        EXPECT_EQ(ThrottleAdmit(t.get(), "192.0.2.2", now + pause - 1), Admit::Yes);
        now += pause;
        EXPECT_EQ(ThrottleAdmit(t.get(), "192.0.2.1", now), Admit::Yes) << pause;
        now += kThrottleWindowMs; // keep the global cap out of this test
    }
    ThrottleSuccess(t.get(), "192.0.2.1", now);
    ThrottleFailure(t.get(), "192.0.2.1", now);
    EXPECT_EQ(ThrottleAdmit(t.get(), "192.0.2.1", now + 999), Admit::AddressBlocked);
    EXPECT_EQ(ThrottleAdmit(t.get(), "192.0.2.1", now + 1000), Admit::Yes);
}

TEST(Throttle, ThirtyFailuresInTenMinutesLetOnlyKnownAddressesInUntilTheWindowPasses) {
    auto t = std::make_unique<Throttle>();
    const int64_t t0 = 5000000;
    ThrottleSuccess(t.get(), "198.51.100.7", t0); // the operator, once
    for (int i = 0; i < kThrottleWindowFailures - 1; i++)
        ThrottleFailure(t.get(), addr(i).c_str(), t0 + i * 1000);
    EXPECT_EQ(ThrottleAdmit(t.get(), "203.0.113.9", t0 + 60000), Admit::Yes);
    ThrottleFailure(t.get(), addr(99).c_str(), t0 + 60000); // the thirtieth
    EXPECT_EQ(ThrottleAdmit(t.get(), "203.0.113.9", t0 + 61000), Admit::GlobalCap);
    EXPECT_EQ(ThrottleAdmit(t.get(), "198.51.100.7", t0 + 61000), Admit::Yes);
    // Ten minutes after the oldest of the thirty, the window has room again.
    EXPECT_EQ(ThrottleAdmit(t.get(), "203.0.113.9", t0 + kThrottleWindowMs - 1), Admit::GlobalCap);
    EXPECT_EQ(ThrottleAdmit(t.get(), "203.0.113.9", t0 + kThrottleWindowMs), Admit::Yes);
}

TEST(Throttle, AFloodOfAddressesKeepsTheTableBoundedAndTheKnownOnes) {
    auto t = std::make_unique<Throttle>();
    int64_t now = 1000;
    ThrottleSuccess(t.get(), "198.51.100.7", now);
    ThrottleFailure(t.get(), "198.51.100.7", now); // known, and blocked for 1 s
    for (int i = 0; i < 5000; i++)
        ThrottleFailure(t.get(), addr(i).c_str(), now + kThrottleWindowMs * (i + 1));
    int used = 0, known = 0;
    for (const ThrottleEntry& e : t->entries) {
        used += e.address[0] != 0;
        known += e.known;
    }
    EXPECT_EQ(used, kThrottleAddresses);
    EXPECT_EQ(known, 1); // strangers took the places of strangers
    // The latest stranger is remembered: still blocked.
    const int64_t last = now + kThrottleWindowMs * 5000;
    EXPECT_EQ(ThrottleAdmit(t.get(), addr(4999).c_str(), last + 1), Admit::AddressBlocked);
    // A long address is cut, not written past its field.
    const std::string longOne(200, '9');
    ThrottleFailure(t.get(), longOne.c_str(), last);
    EXPECT_EQ(ThrottleAdmit(t.get(), longOne.c_str(), last + 1), Admit::AddressBlocked);
}

} // namespace
