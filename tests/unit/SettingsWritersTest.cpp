// Writers of /opt/set: the partition is read-write from the first writer in to
// the last one out, so no write meets a read-only mount; a save of the bytes a
// file holds writes nothing.
#include "RootedWorks.h"

#include "platform/Command.h"
#include "core/RemoteCode.h"
#include "platform/TextFile.h"
#include "tuner/Banks.h"
#include "tuner/TuneMem.h"

#include <cerrno>
#include <sys/stat.h>

namespace {

class SettingsWriters : public RootedWorks {
  protected:
    std::string mountState() { return ReadFile(dir.path + "/sim/opt-set.mount"); }
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
    // (Other folders, and the mount's state after each remount:
    // Network.ASaveRewritesOnlyFirstColumnLinesAndKeepsTheRestByteForByte,
    // NestedWritersRemountOnceEachWay.)
    ASSERT_TRUE(RemountSetRw());
    EXPECT_EQ(WriteFileAtomic("/opt/set/x.txt", "1\n", 2), 0);
    EXPECT_EQ(plat_system("rm -f /opt/set/y.txt"), 0);
    RemountSetRo();
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
    EXPECT_EQ(commands(), (std::vector<std::string>{"mount -o remount defaults,rw /opt/set",
                                                    "mount -v -n -o remount -r /opt/set"}));
}

// A save that would write the bytes the file holds touches neither the file
// nor the partition; a change, or a secret's mode gone wrong, is written.
TEST_F(SettingsWriters, UnchangedFilesAreNotRewrittenNorRemounted) {
    auto remounts = [&] {
        return CountOf(ReadFile(dir.path + "/commands.log"), "defaults,rw /opt/set\n");
    };
    w->freqHz = 14074000;
    w->tunerWord = 0x00800000;
    InsertTuneToMem(w.get(), 0, 0);
    ASSERT_EQ(writeSetup(w.get()), 0);
    SaveTabConfig(w.get(), 0);
    ASSERT_TRUE(SaveRemoteCode(w.get(), "ZYXW98765432"));
    const size_t first = remounts();
    EXPECT_EQ(first, 4u);
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
    EXPECT_EQ(FileMode(dir.path + "/opt/set/remote.txt"), 0600);
}

} // namespace
