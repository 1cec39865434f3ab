// A rooted record with the keys' thread running on the emulated GPIO block (or,
// for a fixture that says so, a Raspberry Pi 5's modelled GPIO chip), the
// converter model on its two lines and a drawing buffer in memory.
#pragma once

#include "GpioBackend.h"
#include "RootedWorks.h"

#include "devsim/GpioConverter.h"
#include "devsim/GpioKeys.h"
#include "platform/Clock.h"
#include "tuner/Banks.h"
#include "ui/GPIO.h"

#include <gtest/gtest.h>
#include <thread>

class GpioPanel : public RootedWorks {
  protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(RootedWorks::SetUp());
        if (backend() == GpioBackend::Chardev) {
            std::string err;
            ASSERT_TRUE(GpioBackendRoot(dir.path, backend(), SimRootOptions{}, &err)) << err;
        }
        useTimeScale(2);
        beforeKeys();
        usePicture(dir.path);
        InitTabAntenna(w.get(), 0);
        w->ModeWorkIdx = 0;
        converter = GpioConverterStart(SimGpioPath(dir.path));
        ASSERT_NE(converter, nullptr);
        ASSERT_TRUE(SimGpioKeysOpen(&keys, SimGpioPath(dir.path)));
        thread = std::thread(GPIO, w.get());
        // The thread took the lines the way the fixture meant.
        const std::string how =
            backend() == GpioBackend::Chardev
                ? "GPIO block: the character device /dev/gpiochip4 (gpiochip4, pinctrl-rp1"
                : "GPIO block: /dev/mem at ";
        ASSERT_TRUE(logged(how, 10000)) << syslog();
    }
    void TearDown() override {
        w->running = 0;
        if (thread.joinable()) thread.join();
        SimGpioKeysClose(&keys);
        if (converter) GpioConverterStop(converter);
        RootedWorks::TearDown();
    }
    virtual GpioBackend backend() const { return GpioBackend::Registers; }
    // What a test sets in the record before the keys' thread starts.
    virtual void beforeKeys() {}
    // A short press, held and released each for at least eight passes of the
    // keys' thread (its debounce takes six): a thread starved on a loaded
    // machine still sees both edges.
    void tap(int key) {
        SimGpioKeyDown(&keys, key);
        waitPasses(100);
        SimGpioKeyUp(&keys, key);
        waitPasses(60);
    }
    void waitPasses(int atLeastMs) {
        const uint64_t from = w->keysBeat.passes.load();
        plat_sleep_ms(atLeastMs);
        WaitFor([&] { return w->keysBeat.passes.load() >= from + 8; }, 10000);
    }

    GpioConverter* converter = nullptr;
    SimGpioKeys keys;
    std::thread thread;
};
