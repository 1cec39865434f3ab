// The service entries of the menu worked through the panel keys, with the keys'
// thread on the GPIO block, the converter model on its two lines and the link
// thread against the amplifier model: OFF HW reaches the converter, FW UPDATE
// lowers GPIO 13 while armed and sends "MR1;" after which the link is silent,
// and choosing Remote with no server running starts one.
#include "GpioPanel.h"
#include "ModelWire.h"
#include "WsPeer.h"

#include "amp/Linear.h"
#include "ui/Menu.h"

#include <thread>

namespace {

class ServiceMenu : public GpioPanel {
  protected:
    void beforeKeys() override { w->startupFlags.replace(0); }
    void TearDown() override {
        w->running = 0;
        if (link.joinable()) link.join();
        JoinThread(SlotOf(Thread::Socket));
        AmpModelStop(model);
        GpioPanel::TearDown();
    }
    // From the operating page into the editing page of `entry`, from entry 0
    // the shorter way round: forward with key 4, back with key 3.
    void editEntry(int entry) {
        tap(5); // SET
        ASSERT_TRUE(WaitFor([&] { return w->pages.keyPage == 1; }, 10000));
        const bool forward = entry <= MenuEntryCount() / 2;
        for (int e = 0; e != entry;) {
            e = forward ? e + 1 : (e == 0 ? MenuEntryCount() - 1 : e - 1);
            tap(forward ? 4 : 3);
            ASSERT_TRUE(WaitFor([&] { return w->pages.menuEntry == e; }, 10000)) << e;
        }
        tap(6);
        ASSERT_TRUE(WaitFor([&] { return w->pages.keyPage == 2; }, 10000));
    }

    std::thread link;
    AmpModel* model = nullptr;
};

TEST_F(ServiceMenu, OffHwSendsTheSwitchOffCommandToTheConverter) {
    ASSERT_NO_FATAL_FAILURE(editEntry(29)); // OFF HW
    EXPECT_FALSE(ConverterGot(converter, 0x85, 300)); // choosing it alone does nothing
    tap(4);                                // MINUS
    EXPECT_TRUE(ConverterGot(converter, 0x85, 3000));
}

TEST_F(ServiceMenu, FirmwareUpdateArmsGpio13ThenSendsMr1AndTheLinkFallsSilent) {
    model = AmpModelStart(dir.path + "/dev/ttyAMA0", AmpModelConfig{});
    ASSERT_NE(model, nullptr);
    link = std::thread(Linear, w.get());
    ASSERT_TRUE(WaitFor([&] { return AmpModelReceived(model).size() >= 4; }, 5000));

    ASSERT_NO_FATAL_FAILURE(editEntry(30)); // FW UPDATE
    EXPECT_TRUE(GpioConverterOutput(converter, 13));
    tap(5); // PLUS arms it
    EXPECT_TRUE(WaitFor([&] { return !GpioConverterOutput(converter, 13); }, 10000));
    EXPECT_FALSE(AmpGot(model, "MR1;", 0));

    tap(6); // ENTER
    ASSERT_TRUE(AmpGot(model, "MR1;", 5000));
    ASSERT_TRUE(WaitFor([&] { return w->serviceFlags.test(4); }, 10000));
    EXPECT_TRUE(AmpModelProgramming(model));
    const std::vector<std::string> sent = AmpWire(model);
    EXPECT_EQ(sent.back(), "MR1;");
    plat_sleep_ms(2000); // longer than a reply's time-out: a retry would show
    EXPECT_EQ(AmpWire(model).size(), sent.size());     // nothing after it
    EXPECT_FALSE(GpioConverterOutput(converter, 13)); // still armed
}

TEST_F(ServiceMenu, ChoosingRemoteStartsTheServerWhenNoneRuns) {
    const int port = FreeTcpPort();
    w->settings.tcpPort = static_cast<int16_t>(port);
    setup->WebSocket = '0';
    setup->EnableFFT = '1'; // no prerequisite checks; the services are already on
    setup->EnableWrite = '1';
    setup->EnableRead = '1';
    setup->EnableCAT = '1';
    ASSERT_NO_FATAL_FAILURE(editEntry(8));
    tap(5);
    ASSERT_TRUE(WaitFor([&] { return w->remoteEnabled == 1; }, 10000));
    tap(6);
    EXPECT_EQ(setup->WebSocket, '1');
    WsPeer p;
    EXPECT_TRUE(p.connectTo(port, 15000));
}

} // namespace
