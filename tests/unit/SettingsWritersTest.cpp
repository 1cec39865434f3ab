// Writers of /opt/set from several threads: the partition is read-write from the
// first writer in to the last one out, so no write meets a read-only mount.
#include "RootedWorks.h"

#include "platform/Command.h"
#include "core/RemoteCode.h"
#include "core/Setup.h"
#include "platform/TextFile.h"
#include "tuner/Banks.h"
#include "tuner/TuneMem.h"

#include <atomic>
#include <cerrno>
#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>
#include <thread>

namespace {

class SettingsWriters : public RootedWorks {
  protected:
    std::string mountState() { return ReadFile(dir.path + "/sim/opt-set.mount"); }
    int count(const std::string& text, const std::string& what) {
        int n = 0;
        for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
            n++;
        return n;
    }
};

TEST_F(SettingsWriters, TheEmulatedMountRefusesWritesWhileReadOnly) {
    EXPECT_EQ(mountState(), "ro\n");
    // Outside the writers' bracket the platform's writer is refused...
    EXPECT_EQ(WriteFileAtomic("/opt/set/x.txt", "1\n", 2), EROFS);
    EXPECT_FALSE(FileExists(dir.path + "/opt/set/x.txt"));
    // ...and so is rm on the partition.
    ASSERT_TRUE(WriteFile(dir.path + "/opt/set/y.txt", "y\n"));
    EXPECT_NE(plat_system("rm -f /opt/set/y.txt"), 0);
    EXPECT_TRUE(FileExists(dir.path + "/opt/set/y.txt"));
    // Other folders are not on the partition.
    EXPECT_EQ(WriteFileAtomic("/tmp/x.txt", "1\n", 2), 0);

    ASSERT_TRUE(RemountSetRw());
    EXPECT_EQ(mountState(), "rw\n");
    EXPECT_EQ(WriteFileAtomic("/opt/set/x.txt", "1\n", 2), 0);
    EXPECT_EQ(plat_system("rm -f /opt/set/y.txt"), 0);
    RemountSetRo();
    EXPECT_EQ(mountState(), "ro\n");
}

TEST_F(SettingsWriters, NestedWritersRemountOnceEachWay) {
    ASSERT_TRUE(RemountSetRw());
    ASSERT_TRUE(RemountSetRw());
    RemountSetRo();
    // The inner writer's end leaves the partition writable for the outer one.
    EXPECT_EQ(mountState(), "rw\n");
    EXPECT_EQ(WriteFileAtomic("/opt/set/x.txt", "1\n", 2), 0);
    RemountSetRo();
    EXPECT_EQ(mountState(), "ro\n");
    std::string cmds = ReadFile(dir.path + "/commands.log");
    EXPECT_EQ(count(cmds, "mount -o remount defaults,rw /opt/set\n"), 1);
    EXPECT_EQ(count(cmds, "mount -v -n -o remount -r /opt/set\n"), 1);
}

TEST_F(SettingsWriters, MenuSaveAndTunerStoreAtOnceLoseNothing) {
    constexpr int kRounds = 40;
    std::atomic<int> setupFailures{0};
    std::thread menu([&] {
        for (int i = 1; i <= kRounds; i++) {
            w->NumBanco = i % 20 + 1;
            if (writeSetup(w.get()) != 0)
                setupFailures++;
        }
    });
    std::thread tuner([&] {
        for (int i = 1; i <= kRounds; i++) {
            SaveTuneValsuTabRam(w.get(), TuneMemEntry{1, 1, static_cast<uint16_t>(i), 7}, 3117, 0);
            SaveTabAtu(w.get(), 2, 0);
        }
    });
    menu.join();
    tuner.join();

    EXPECT_EQ(setupFailures.load(), 0);
    std::string log = ReadFile(dir.path + "/syslog.log");
    EXPECT_FALSE(Contains(log, "can't")) << log;
    EXPECT_EQ(mountState(), "ro\n");
    // Both files whole, each with its last value.
    auto setupLines = ReadLines(dir.path + "/opt/set/setup.txt");
    EXPECT_EQ(setupLines.size(), 70u);
    EXPECT_GE(FindLine(setupLines, "NumBanco: " + std::to_string(kRounds % 20 + 1)), 0);
    EXPECT_EQ(ReadFile(dir.path + "/opt/set/atu_ant1_b2.txt"),
              "3117 14070000 1 1 " + std::to_string(kRounds) + " 7\n");
}

TEST_F(SettingsWriters, TwoSaversOfTheSameFileBothSucceed) {
    // F11's save on the key thread and a menu save on the refresh thread.
    constexpr int kRounds = 60;
    std::atomic<int> failures{0};
    auto saver = [&] {
        for (int i = 0; i < kRounds; i++)
            if (writeSetup(w.get()) != 0)
                failures++;
    };
    std::thread a(saver), b(saver);
    a.join();
    b.join();
    EXPECT_EQ(failures.load(), 0);
    std::string log = ReadFile(dir.path + "/syslog.log");
    EXPECT_FALSE(Contains(log, "can't")) << log;
    EXPECT_EQ(ReadLines(dir.path + "/opt/set/setup.txt").size(), 70u);
    EXPECT_FALSE(FileExists(dir.path + "/opt/set/setup.txt.new"));
}

// A save that would write the bytes the file holds touches neither the file
// nor the partition; a change, or a secret's mode gone wrong, is written.
TEST_F(SettingsWriters, UnchangedFilesAreNotRewrittenNorRemounted) {
    auto remounts = [&] { return count(ReadFile(dir.path + "/commands.log"), "defaults,rw /opt/set\n"); };
    w->freqHz = 14074000;
    w->tunerWord = 0x00800000;
    InsertTuneToMem(w.get(), 0, 0);
    ASSERT_EQ(writeSetup(w.get()), 0);
    SaveTabConfig(w.get(), 0);
    ASSERT_TRUE(SaveRemoteCode(w.get(), "ZYXW98765432"));
    const int first = remounts();
    EXPECT_EQ(first, 4);
    struct stat before;
    ASSERT_EQ(stat((dir.path + "/opt/set/atu_ant1.txt").c_str(), &before), 0);
    for (int i = 0; i < 3; i++) {
        InsertTuneToMem(w.get(), 0, 0);
        EXPECT_EQ(writeSetup(w.get()), 0);
        SaveTabConfig(w.get(), 0);
        EXPECT_TRUE(SaveRemoteCode(w.get(), "ZYXW98765432"));
    }
    EXPECT_EQ(remounts(), first);
    struct stat after;
    ASSERT_EQ(stat((dir.path + "/opt/set/atu_ant1.txt").c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino); // never replaced
    EXPECT_EQ(mountState(), "ro\n");

    const std::string stored = ReadFile(dir.path + "/opt/set/atu_ant1.txt");
    w->tunerWord = 0x0080FFFF;
    InsertTuneToMem(w.get(), 0, 0);
    EXPECT_EQ(remounts(), first + 1);
    EXPECT_NE(ReadFile(dir.path + "/opt/set/atu_ant1.txt"), stored);
    ASSERT_EQ(chmod((dir.path + "/opt/set/remote.txt").c_str(), 0644), 0);
    EXPECT_TRUE(SaveRemoteCode(w.get(), "ZYXW98765432"));
    EXPECT_EQ(remounts(), first + 2);
    struct stat code;
    ASSERT_EQ(stat((dir.path + "/opt/set/remote.txt").c_str(), &code), 0);
    EXPECT_EQ(code.st_mode & 0777, 0600u);
}

TEST_F(SettingsWriters, AFailedRemountIsReportedOnce) {
    ASSERT_TRUE(SimWriteScript(dir.path, "/bin/mount", "exit 32\n"));
    testing::internal::CaptureStderr();
    SaveTabAtu(w.get(), 2, 0);
    std::string err = testing::internal::GetCapturedStderr();
    std::string log = ReadFile(dir.path + "/syslog.log");
    EXPECT_EQ(count(log, "3 can't mount rw /opt/set/ error "), 1) << log;
    EXPECT_EQ(count(err, "can't mount rw /opt/set/ error "), 1) << err;
    // A writer that never got in does not remount read-only.
    EXPECT_EQ(count(ReadFile(dir.path + "/commands.log"), "-r /opt/set"), 0);
    EXPECT_FALSE(FileExists(dir.path + "/opt/set/atu_ant1_b2.txt"));
}

} // namespace
