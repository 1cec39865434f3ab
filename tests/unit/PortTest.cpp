// The serial module (waits, transfers, hang-up) and the
// program's signals, on real ptys, sockets and child processes.
#include "RootDir.h"

#include "core/Works.h"
#include "devsim/Pty.h"
#include "platform/Clock.h"
#include "platform/Command.h"
#include "platform/SerialPort.h"
#include "platform/Signals.h"
#include "wire/Messages.h"

#include <csignal>
#include <mutex>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// (The ';'-text framer: texts, empty ones and the remainder of an overlong one,
// the cat_relay_fuzz target; its last byte that fits and the drop at the next,
// Ampctl.LinesAreCutAsAmpctldReadsThemAndAnOverlongOneEndsTheClient.)
class Ports : public RootDir {
  protected:
    void SetUp() override {
        RootDir::SetUp();
        ASSERT_TRUE(SimPtyOpen(&pty, dir.path + "/ttyT"));
        SerialOpenError err;
        fd = plat_serial_open("/ttyT", SerialLine{B115200, 0, 0}, &err);
        ASSERT_GE(fd, 0);
        EXPECT_EQ(err, SerialOpenError::None);
    }
    void TearDown() override {
        if (fd >= 0)
            close(fd);
        SimPtyClose(&pty);
        RootDir::TearDown();
    }
    SimPty pty;
    int fd = -1;
};

TEST_F(Ports, ReadWaitsForItsDeadlineAndForTheCallersWishAndAClosedFarEndIsAHangUp) {
    char buf[8];
    PortStatus st;
    int waited = 0;
    EXPECT_EQ(plat_port_read(fd, buf, sizeof buf, 120, nullptr, &st, &waited), 0);
    EXPECT_EQ(st, PortStatus::TimedOut);
    EXPECT_GE(waited, 115);
    int asks = 0;
    const int64_t t0 = plat_mono_ms();
    plat_port_read(fd, buf, sizeof buf, -1, [&] { return ++asks < 3; }, &st);
    EXPECT_EQ(st, PortStatus::Stopped);
    EXPECT_GE(plat_mono_ms() - t0, 2 * (kPortSliceMs - 5)); // looked again once per slice

    ASSERT_EQ(write(pty.master, "ST;", 3), 3);
    EXPECT_EQ(plat_port_read(fd, buf, sizeof buf, 1000, nullptr, &st), 3);
    EXPECT_EQ(st, PortStatus::Ok);
    EXPECT_EQ(std::string(buf, 3), "ST;");
    EXPECT_EQ(plat_port_write(fd, "FM;", 3, 1000, nullptr), PortStatus::Ok);

    SimPtyClose(&pty); // the adapter is pulled
    EXPECT_EQ(plat_port_read(fd, buf, 1, 1000, nullptr, &st), 0);
    EXPECT_EQ(st, PortStatus::HungUp);
    // The wait comes back at once (the read then tells), rather than at its deadline.
    const int64_t pulled = plat_mono_ms();
    plat_port_wait(fd, 1000, nullptr);
    EXPECT_LT(plat_mono_ms() - pulled, 500);
}

TEST_F(Ports, MissingDeviceAndRefusedSettingsAreTold) {
    SerialOpenError err;
    EXPECT_EQ(plat_serial_open("/dev/ttyNone", SerialLine{B115200, 0, 0}, &err), -1);
    EXPECT_EQ(err, SerialOpenError::Open);
    ASSERT_TRUE(WriteFile(dir.path + "/plain", "not a tty"));
    EXPECT_EQ(plat_serial_open("/plain", SerialLine{B115200, 0, 0}, &err), -1);
    EXPECT_EQ(err, SerialOpenError::Settings);
    EXPECT_EQ(plat_serial_name(dir.path + "/dev/KAVOCAT0"), "/dev/KAVOCAT0");
}

// Runs `body` in a child process; its exit status, or -signal when a signal
// ended it.
int inChild(const std::function<int()>& body) {
    const pid_t pid = fork();
    if (pid == 0)
        _exit(body());
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
}

TEST(Signals, AWriteToAClosedPeerIsAnErrorNotTheEndOfTheProgram) {
    EXPECT_EQ(inChild([] {
                  // From the default, which ends the process (a fixture run
                  // before in this process ignores it).
                  signal(SIGPIPE, SIG_DFL);
                  plat_signals_init();
                  int sv[2];
                  if (socketpair(AF_UNIX, SOCK_STREAM, 0, sv) != 0) return 3;
                  close(sv[1]); // the remote unit went away
                  auto w = std::make_unique<Works>();
                  std::mutex sendMut;
                  InitGlobalVar(w.get());
                  w->wsSendMut = &sendMut;
                  w->wsFD = sv[0];
                  w->remoteConnected = 1;
                  sendWebSockStatusFrame(w.get(), "TEST", 4);
                  return plat_port_write(sv[0], "x", 1, 100, nullptr) == PortStatus::HungUp ? 0 : 1;
              }),
              0);
}

TEST(Signals, TermAndIntReachTheMainLoopAndCommandsGetThemBack) {
    TempDir dir;
    const std::string marker = dir.path + "/alive";
    EXPECT_EQ(inChild([&] {
                  plat_signals_init();
                  kill(getpid(), SIGTERM);
                  if (plat_wait_stop_signal(1000) != SIGTERM)
                      return 1;
                  kill(getpid(), SIGINT);
                  if (plat_wait_stop_signal(1000) != SIGINT || plat_wait_stop_signal(50) != 0)
                      return 2;
                  // A command ends on SIGTERM as usual, although the panel blocks it.
                  plat_system(("kill -TERM $$; echo alive >" + marker).c_str());
                  return 0;
              }),
              0);
    EXPECT_FALSE(FileExists(marker));
}

} // namespace
