// The storage thread's queue with the real thread: requests of one file in
// order, writes coalesced to the newest bytes, readers that see what is
// queued, failed writes tried again, the queue drained at the end, its bound.
// A job that waits on a gate stands for a slow SD card: while it holds the
// thread, everything else queues.
#include "RootedWorks.h"

#include "amp/Temperature.h"
#include "core/RemoteCode.h"
#include "core/Storage.h"
#include "tuner/Banks.h"
#include "tuner/TuneMem.h"
#include "ui/Menu.h"
#include "ui/RemoteChecks.h"

#include <future>

namespace {

class Storage : public RootedWorks {
  protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(RootedWorks::SetUp());
        // A retry's back-off of 1 s and more passes ten times faster.
        useTimeScale(10);
        w->startupFlags.replace(0);
        setup->serialLinkEnabled = '0'; // a reloaded bank starts no link here
        setup->catSerialEnabled = '0';
        StartThreadStorage(w.get());
    }
    void TearDown() override {
        release();
        StopThreadStorage();
        RootedWorks::TearDown();
    }
    // The gate: a job that holds the thread until release().
    void gate() {
        entered.set_value();
        opened.wait();
    }
    // Everything posted from here on waits until release().
    void hold() {
        ASSERT_EQ(StorageJob("", [this] { gate(); }), 0);
        ASSERT_EQ(entered.get_future().wait_for(std::chrono::seconds(10)),
                  std::future_status::ready);
    }
    void release() {
        if (!released.exchange(true)) opening.set_value();
    }
    void releaseAndWait() {
        release();
        ASSERT_TRUE(idle());
    }
    // Program time: a minute of the wall clock at the test's time scale.
    bool idle() { return StorageIdle(600000); }
    std::string file(const std::string& path) const { return ReadFile(dir.path + path); }
    // How often `line` has run as a command so far.
    int count(const std::string& line) const {
        const std::vector<std::string> cmds = commands();
        return static_cast<int>(std::count(cmds.begin(), cmds.end(), line));
    }

    std::promise<void> entered, opening;
    std::shared_future<void> opened = opening.get_future().share();
    std::atomic<bool> released{false};
};

const std::string kRw = "mount -o remount defaults,rw /opt/set";
const std::string kRo = "mount -v -n -o remount -r /opt/set";

// What each request reports, in the order the thread carried them out.
struct Trail {
    std::mutex m;
    std::vector<std::string> events;
    StorageDone note(const std::string& what) {
        return [this, what](int result) {
            std::lock_guard<std::mutex> lock(m);
            events.push_back(what + "=" + std::to_string(result));
        };
    }
};

TEST_F(Storage, OneFileKeepsItsOrderAndAWriteNotBegunTakesTheNewestBytes) {
    Trail trail;
    ASSERT_NO_FATAL_FAILURE(hold());
    // Each is queued, nothing done yet.
    EXPECT_EQ(StorageWrite("/opt/set/a.txt", "1\n", 0, trail.note("a1")), 0);
    EXPECT_EQ(StorageWrite("/opt/set/b.txt", "b1\n", 0, trail.note("b1")), 0);
    EXPECT_EQ(StorageRemove("/opt/set/a.txt", "rm -f /opt/set/a.txt", trail.note("rm a")), 0);
    EXPECT_EQ(StorageWrite("/opt/set/a.txt", "2\n", 0, trail.note("a2")), 0);
    EXPECT_EQ(StorageWrite("/opt/set/a.txt", "3\n", 0, trail.note("a3")), 0);
    EXPECT_EQ(StorageWrite("/opt/set/b.txt", "b2\n", 0, trail.note("b2")), 0);
    EXPECT_EQ(StorageCommand(": one", trail.note("cmd")), 0);
    EXPECT_EQ(StorageCommand(": two", trail.note("cmd2")), 0);
    // a2 and a3 are one write, b1 and b2 too: the gate, a1, b, rm a, a3, two commands.
    EXPECT_EQ(StorageQueued(), 7u);
    EXPECT_FALSE(FileExists(dir.path + "/opt/set/a.txt"));
    ASSERT_NO_FATAL_FAILURE(releaseAndWait());

    EXPECT_EQ(trail.events,
              (std::vector<std::string>{"a1=0", "b2=0", "rm a=0", "a3=0", "cmd=0", "cmd2=0"}));
    EXPECT_EQ(file("/opt/set/a.txt"), "3\n");
    EXPECT_EQ(file("/opt/set/b.txt"), "b2\n");
    // Each file's remounts around it, in the order posted.
    EXPECT_EQ(commands(), (std::vector<std::string>{kRw, kRo, kRw, kRo, kRw, "rm -f /opt/set/a.txt",
                                                    kRo, kRw, kRo, ": one", ": two"}));
}

// A reader on another thread sees what the queue will leave in the file: the
// bank and tuner tables saved, a table whose removal waits (the setup saved:
// FactoryDefaultReadsBackTheDefaultsItQueued).
TEST_F(Storage, ReadersSeeTheQueuedBytesBeforeTheyAreWritten) {
    ASSERT_TRUE(WriteFile(dir.path + BankFileName(2), "!Gen\nold 14000000 14350000 1 1 0 0 0.0\n"));
    ASSERT_TRUE(WriteFile(dir.path + TuneMemFileName(2, 0), "3117 14070000 1 1 30 40\n"));
    LoadAllBankTable(w.get(), 2);
    ASSERT_EQ(std::string(w->antennaTable[0].name.get().s), "old");
    ASSERT_NO_FATAL_FAILURE(hold());

    w->antennaTable[0].name.set("new");
    w->ModeWorkIdx = kModeTav;
    SaveTabConfig(w.get(), 2);
    SaveTuneValsuTabRam(w.get(), TuneMemEntry{1, 2, 50, 60}, 3117, 0);
    SaveTabAtu(w.get(), 2, 0);
    w->antennaTable[0].name.set("edited"); // in memory only
    SaveTuneValsuTabRam(w.get(), TuneMemEntry{1, 2, 99, 99}, 3117, 0);
    EXPECT_EQ(LoadTabConfig(w.get(), 2), kModeTav);
    EXPECT_EQ(std::string(w->antennaTable[0].name.get().s), "new");
    LoadTabAtu(w.get(), 2, 0);
    EXPECT_EQ(LoadTuneValFromTabRam(w.get(), 3117, 0).l, 50);

    DeleteFileConf(w.get(), 2, 0);
    LoadTabAtu(w.get(), 2, 0);
    EXPECT_EQ(LoadTuneValFromTabRam(w.get(), 3117, 0).valid, 0);
    // Still the old files on disk.
    EXPECT_TRUE(Contains(file(BankFileName(2)), "old "));

    ASSERT_NO_FATAL_FAILURE(releaseAndWait());
    EXPECT_EQ(file(BankFileName(2)), "!Tav\nnew 14000000 14350000 1 1 0 0 0.0\n");
    EXPECT_FALSE(FileExists(dir.path + TuneMemFileName(2, 0)));
}

// FACTORY DEFAULT, once armed, removes the tables, saves the defaults and reads
// them back, all on the keys' thread while the storage thread has not written a
// byte.
TEST_F(Storage, FactoryDefaultReadsBackTheDefaultsItQueued) {
    w->NumBanco = 1;
    ASSERT_TRUE(
        WriteFile(dir.path + BankFileName(1), "!Tav\ncontest 14000000 14350000 1 2 0 3 12.5\n"));
    ASSERT_TRUE(WriteFile(dir.path + BankFileName(3), "; a bank not in use\n"));
    ASSERT_TRUE(WriteFile(dir.path + TuneMemFileName(1, 0), "3117 14070000 1 1 30 40\n"));
    ASSERT_TRUE(WriteFile(dir.path + "/opt/set/setup.txt", "NumBanco: 1\nMAXbank: 5\n"));
    ASSERT_TRUE(WriteFile(dir.path + "/opt/set/remote.txt", "Code: KMNP23456789\n"));
    ASSERT_EQ(chmod((dir.path + "/opt/set/remote.txt").c_str(), 0600), 0);
    readSetup(w.get());
    ASSERT_TRUE(LoadRemoteCode(w.get()));
    LoadAllBankTable(w.get(), 1);
    ASSERT_EQ(w->MAXbank, 5);
    ASSERT_NO_FATAL_FAILURE(hold());

    w->pages.menuEntry = 24;
    auto shown = [&] {
        char text[64];
        LoadParameterMenu(w.get(), text, sizeof text, 24, 0);
        return std::string(text);
    };
    EXPECT_EQ(shown(), "No Default");
    ModifyParameter(w.get(), kMenuEnter); // not armed: nothing
    EXPECT_EQ(w->MAXbank, 5);
    ModifyParameter(w.get(), kMenuPlus);
    EXPECT_EQ(shown(), "Set Default");
    ModifyParameter(w.get(), kMenuEnter);
    EXPECT_EQ(shown(), "No Default");
    EXPECT_EQ(w->MAXbank, 20); // the defaults, read back from the queue
    EXPECT_EQ(std::string(w->antennaTable[0].name.get().s), "160m");
    EXPECT_EQ(LoadTuneValFromTabRam(w.get(), 3117, 0).valid, 0);
    EXPECT_EQ(std::string(w->remotePassword.get().s), "KMNP23456789");
    EXPECT_EQ(w->antennaRowIdx, kNoAntennaRow);
    EXPECT_TRUE(FileExists(dir.path + BankFileName(1))); // nothing written yet

    ASSERT_NO_FATAL_FAILURE(releaseAndWait());
    EXPECT_FALSE(FileExists(dir.path + BankFileName(1)));
    EXPECT_FALSE(FileExists(dir.path + BankFileName(3)));
    EXPECT_FALSE(FileExists(dir.path + TuneMemFileName(1, 0)));
    EXPECT_TRUE(Contains(file("/opt/set/setup.txt"), "MAXbank: 20\n"));
    EXPECT_EQ(file("/opt/set/remote.txt"), "Code: KMNP23456789\n");
    EXPECT_EQ(count("rm -f /opt/set/antenna_b1.txt"), 1);
    // The next save to the bank writes the defaults, not the old rows.
    SaveToBank(w.get(), 1, 0);
    ASSERT_TRUE(idle());
    EXPECT_FALSE(Contains(file(BankFileName(1)), "contest"));
    EXPECT_TRUE(Contains(file(BankFileName(1)), "160m "));
    EXPECT_FALSE(Contains(file(TuneMemFileName(1, 0)), "3117 "));
}

// A write that fails, at its remount or at its file, stays queued: logged as
// before each time, tried again after a back-off, and written once it can be.
// The other files go on.
TEST_F(Storage, AFailedRemountOrWriteIsTriedAgainAndWrittenOnceItCan) {
    ASSERT_TRUE(SimWriteScript(dir.path, "/bin/mount", "exit 32\n"));
    const std::string blocker = dir.path + TuneMemFileName(3, 0) + ".new";
    ASSERT_TRUE(std::filesystem::create_directory(blocker)); // its temporary file cannot be made
    SaveTuneValsuTabRam(w.get(), TuneMemEntry{1, 1, 5, 6}, 3117, 0);
    SaveTabAtu(w.get(), 3, 0);
    w->NumBanco = 3;
    ASSERT_EQ(writeSetup(w.get()), 0);
    ASSERT_TRUE(WaitFor([&] { return CountOf(syslog(), "3 can't mount rw /opt/set/ error ") >= 2; },
                        20000));
    EXPECT_FALSE(FileExists(dir.path + "/opt/set/setup.txt"));
    EXPECT_EQ(count(kRo), 0); // never in, never out
    std::string err;
    ASSERT_TRUE(SimRootCreate(dir.path, SimRootOptions{}, &err)) << err; // mount works again
    ASSERT_TRUE(
        WaitFor([&] { return Contains(file("/opt/set/setup.txt"), "NumBanco: 3\n"); }, 20000));
    ASSERT_TRUE(WaitFor(
        [&] { return CountOf(syslog(), "can't open /opt/set/autotune.txt for writing") >= 2; },
        20000))
        << syslog();
    EXPECT_EQ(StorageQueued(), 1u);
    // A newer save of the failing file replaces the bytes that wait.
    SaveTuneValsuTabRam(w.get(), TuneMemEntry{1, 1, 7, 8}, 3117, 0);
    SaveTabAtu(w.get(), 3, 0);

    std::filesystem::remove(blocker);
    ASSERT_TRUE(idle());
    EXPECT_EQ(file(TuneMemFileName(3, 0)), "3117 14070000 1 1 7 8\n");
    EXPECT_EQ(file("/sim/opt-set.mount"), "ro\n");
    // Each try that got in between its own remounts.
    EXPECT_EQ(count(kRw),
              count(kRo) + static_cast<int>(CountOf(syslog(), "can't mount rw /opt/set/")));
}

// The end (F12, SIGTERM) carries out what waits, back-off or not, before the
// thread ends: the last command is the read-only remount of the last write.
// A request that still fails then is given up, and said so.
TEST_F(Storage, TheEndDrainsTheQueue) {
    const std::string blocker = dir.path + BankFileName(4) + ".new";
    ASSERT_TRUE(std::filesystem::create_directory(blocker));
    SaveTabConfig(w.get(), 4); // fails, and waits for its next try
    ASSERT_TRUE(logged("can't open /opt/set/autotune.txt for writing", 20000));
    ASSERT_NO_FATAL_FAILURE(hold());
    w->NumBanco = 2;
    ASSERT_EQ(writeSetup(w.get()), 0);
    SaveTabConfig(w.get(), 2);
    LogTempFunction(w.get(), 0);
    StorageCommand(": last");
    release();
    StopThreadStorage();
    EXPECT_EQ(StorageQueued(), 0u);
    EXPECT_TRUE(Contains(file("/opt/set/setup.txt"), "NumBanco: 2\n"));
    EXPECT_TRUE(FileExists(dir.path + BankFileName(2)));
    EXPECT_EQ(ReadLines(dir.path + "/opt/set/LOGtemp.txt").size(), 2u);
    EXPECT_TRUE(Contains(syslog(), "storage: /opt/set/antenna_b4.txt not written before the end"));
    const std::vector<std::string> cmds = commands();
    ASSERT_FALSE(cmds.empty());
    EXPECT_EQ(cmds.back(), ": last");
    EXPECT_EQ(file("/sim/opt-set.mount"), "ro\n");
    // With the thread gone a request is carried out at once again.
    std::filesystem::remove(blocker);
    w->NumBanco = 8;
    EXPECT_EQ(writeSetup(w.get()), 0);
    EXPECT_TRUE(Contains(file("/opt/set/setup.txt"), "NumBanco: 8\n"));
    StartThreadStorage(w.get()); // for TearDown
}

// At most kStorageJobsMax commands and jobs wait; more are refused and
// logged once. Writes of one file never fill the queue: they coalesce; writes
// of as many files as the bound do.
TEST_F(Storage, TheQueueIsBounded) {
    ASSERT_NO_FATAL_FAILURE(hold()); // one job of the bound
    for (size_t i = 1; i < kStorageJobsMax; i++)
        ASSERT_EQ(StorageCommand(": " + std::to_string(i)), 0) << i;
    for (int i = 0; i < 3; i++)
        EXPECT_EQ(StorageCommand(": refused"), kStorageRefused);
    EXPECT_EQ(StorageJob("probe", [] {}), kStorageRefused);
    EXPECT_EQ(CountOf(syslog(), "storage: queue full"), 1);
    for (int i = 0; i < 1000; i++) {
        w->NumBanco = i % 20;
        ASSERT_EQ(writeSetup(w.get()), 0) << i;
    }
    EXPECT_EQ(StorageQueued(), kStorageJobsMax + 1);
    // Writes of many files fill the rest (files that hold these bytes already:
    // carried out, they change nothing and run no command).
    for (size_t i = 0; i < kStorageQueueMax; i++)
        ASSERT_TRUE(WriteFile(dir.path + "/opt/set/x" + std::to_string(i) + ".txt", "x\n"));
    size_t posted = 0;
    while (StorageWrite(("/opt/set/x" + std::to_string(posted) + ".txt").c_str(), "x\n") == 0)
        posted++;
    EXPECT_EQ(StorageQueued(), kStorageQueueMax);
    EXPECT_EQ(posted, kStorageQueueMax - kStorageJobsMax - 1);
    EXPECT_EQ(CountOf(syslog(), "storage: queue full"), 2); // once more, after one was taken
    ASSERT_NO_FATAL_FAILURE(releaseAndWait());
    EXPECT_EQ(count(": refused"), 0);
    EXPECT_EQ(count(": 31"), 1);
    EXPECT_EQ(count(kRw), 1); // the setup's one write; the others held their bytes
    EXPECT_TRUE(Contains(file("/opt/set/setup.txt"), "NumBanco: 19\n"));
}

// The temperature log: the rm and the samples in order, samples that wait
// together written in one stretch of the partition.
TEST_F(Storage, TemperatureLogSamplesWaitingTogetherAreOneAppend) {
    w->dateText.set("2026-12-06 10:00:00");
    PublishAmpReadings(w.get(), {.ampStatus2 = 1,
                                 .pwrFwd = 45.5f,
                                 .swr = 1.25f,
                                 .currentRaw = 2048.0f,
                                 .temp1 = 35.25f,
                                 .temp2 = 36.0f});
    w->supplyAdc[3] = 200;
    w->ident.eeModel[1] = '1';
    ASSERT_TRUE(WriteFile(dir.path + "/opt/set/LOGtemp.txt", "earlier\n"));
    ASSERT_NO_FATAL_FAILURE(hold());
    LogTempFunction(w.get(), -1);
    LogTempFunction(w.get(), 0);
    LogTempFunction(w.get(), 0);
    LogTempFunction(w.get(), 1);
    EXPECT_EQ(StorageQueued(), 3u); // the gate, the rm, one append
    ASSERT_NO_FATAL_FAILURE(releaseAndWait());
    const std::string sample = "2026-12-06 10:00:00 , 1,35.2,36.0,45.5W,1.25,50.0V,07.0A\n";
    EXPECT_EQ(file("/opt/set/LOGtemp.txt"), ";TX,Temp1,Temp2,FDD,SWR\n" + sample + sample +
                                                sample.substr(0, sample.size() - 1) +
                                                " -> protezione attiva\n");
    EXPECT_EQ(commands(),
              (std::vector<std::string>{kRw, "rm /opt/set/LOGtemp.txt", kRo, kRw, kRo}));
}

// The board temperature's command and the remote checks run on the storage
// thread; the screens read what it stored.
TEST_F(Storage, ProbesRunThereAndTheirResultsAreRead) {
    std::filesystem::remove(dir.path + "/sys/class/thermal/thermal_zone0/temp");
    ASSERT_TRUE(SimWriteScript(dir.path, "/bin/my_temp", "echo 47.5\necho \"temp=52.1'C\"\n"));
    ASSERT_TRUE(
        WriteFile(dir.path + "/sim/lsusb.txt", "Bus 001 Device 004: ID 0d8c:0014 C-Media\n"));
    ASSERT_NO_FATAL_FAILURE(hold());
    ReadCPUTemp(w.get());
    ReadCPUTemp(w.get()); // one command waits at most
    RemoteChecksRequest(w.get());
    RemoteChecksRequest(w.get());
    EXPECT_EQ(StorageQueued(), 3u);
    EXPECT_NE(w->cpuTemp[0], 47.5f);
    ASSERT_NO_FATAL_FAILURE(releaseAndWait());
    EXPECT_FLOAT_EQ(w->cpuTemp[0], 47.5f);
    EXPECT_FLOAT_EQ(w->cpuTemp[1], 52.1f);
    EXPECT_EQ(RemoteChecksLast().audio, 1);
    EXPECT_EQ(RemoteChecksLast().transceiver, 1); // no transceiver on the USB bus
    EXPECT_EQ(count("my_temp"), 1);
    EXPECT_EQ(count("lsusb | grep 0d8c"), 1);
    // A command that prints nothing leaves the values: the program goes on.
    ASSERT_TRUE(SimWriteScript(dir.path, "/bin/my_temp", "exit 127\n"));
    ReadCPUTemp(w.get());
    ASSERT_TRUE(idle());
    EXPECT_EQ(count("my_temp"), 2);
    EXPECT_FLOAT_EQ(w->cpuTemp[0], 47.5f);
}

} // namespace
