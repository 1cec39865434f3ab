// The trace reader of the storage test, on literal lines of Debian's strace 6.1
// (-f -Y): it must charge a write or a process to the thread that did it, also
// through a child process, or the storage test could pass with a writer that
// bypasses the storage thread.
#include "StraceLog.h"

namespace {

const std::string kFolder = "/tmp/r/opt/set/";

// The program (pid 100): its main thread names itself, starts the storage and
// keys threads, each of which writes and starts a child; pid 900 is another
// program.
const std::string kTrace =
    "100<strace> execve(\"/b/panel\", [\"/b/panel\", \"--root\", \"/tmp/r\"], 0x7ffd /* 30 vars */) = 0\n"
    "100<panel> openat(AT_FDCWD, \"/tmp/r/opt/set/setup.txt\", O_WRONLY|O_CREAT|O_TRUNC|O_CLOEXEC, 0644) = 3\n"
    "100<panel> clone3({flags=CLONE_VM|CLONE_FS|CLONE_FILES|CLONE_SIGHAND|CLONE_THREAD|CLONE_SYSVSEM, "
    "exit_signal=0, stack=0x7f, stack_size=0x7fff80}, 88) = 101<panel>\n"
    "101<panel> prctl(PR_SET_NAME, \"storage\") = 0\n"
    "100<panel> clone3({flags=CLONE_VM|CLONE_FS|CLONE_FILES|CLONE_SIGHAND|CLONE_THREAD|CLONE_SYSVSEM, "
    "exit_signal=0}, 88 <unfinished ...>\n"
    "101<storage> openat(AT_FDCWD, \"/tmp/r/opt/set/antenna.txt.new\", O_WRONLY|O_CREAT|O_TRUNC|O_CLOEXEC, 0644) = 4\n"
    "100<panel> <... clone3 resumed>) = 102<panel>\n"
    "102<panel> prctl(PR_SET_NAME, \"keys\") = 0\n"
    "101<storage> renameat2(AT_FDCWD, \"/tmp/r/opt/set/antenna.txt.new\", AT_FDCWD, \"/tmp/r/opt/set/antenna.txt\", 0) = 0\n"
    "101<storage> openat(AT_FDCWD, \"/tmp/r/opt/set/config.txt\", O_RDONLY|O_CLOEXEC) = 5\n"
    "101<storage> clone3({flags=CLONE_VM|CLONE_VFORK, exit_signal=SIGCHLD, stack=0x7f, stack_size=0x9000}, 88 <unfinished ...>\n"
    "103<storage> execve(\"/bin/sh\", [\"sh\", \"-c\", \"rm -f /tmp/r/opt/set/a.txt\"], 0x7f /* 3 vars */ <unfinished ...>\n"
    "101<storage> <... clone3 resumed>) = 103<sh>\n"
    "103<sh> <... execve resumed>) = 0\n"
    "103<sh> clone(child_stack=NULL, flags=CLONE_CHILD_CLEARTID|CLONE_CHILD_SETTID|SIGCHLD, child_tidptr=0x7f) = 104<sh>\n"
    "104<rm> unlinkat(AT_FDCWD, \"/tmp/r/opt/set/a.txt\", 0) = 0\n"
    "102<keys> openat(AT_FDCWD, \"/tmp/r/opt/set/antenna_b2.txt\", O_WRONLY|O_APPEND|O_CREAT, 0666) = 6\n"
    "102<keys> clone3({flags=CLONE_VM|CLONE_VFORK, exit_signal=SIGCHLD}, 88 <unfinished ...>\n"
    "105<keys> execve(\"/bin/sh\", [\"sh\", \"-c\", \"stty sane\"], 0x7f /* 3 vars */) = 0\n"
    "105<sh> unlink(\"/tmp/r/opt/set/b.txt\") = 0\n"
    "102<keys> <... clone3 resumed>) = 105<sh>\n"
    "102<keys> openat(AT_FDCWD, \"/tmp/r/syslog.log\", O_WRONLY|O_CREAT|O_APPEND|O_CLOEXEC, 0644) = 7\n"
    "900<other> openat(AT_FDCWD, \"/tmp/r/opt/set/setup.txt\", O_WRONLY|O_CREAT, 0644) = 3\n"
    "101<storage> +++ exited with 0 +++\n";

TEST(StraceLog, EachWriteAndProcessIsChargedToTheThreadThatCausedIt) {
    const TraceSummary s = ReadTrace(kTrace, kFolder, "storage");
    EXPECT_EQ(s.programPid, 100);
    EXPECT_EQ(s.threads, (std::set<std::string>{"storage", "keys"}));
    EXPECT_EQ(s.namedAt, 4);
    struct Want {
        int line;
        const char* thread;
        const char* what;
    } const want[] = {
        {2, "panel", "write"},     // start-up, before any thread
        {6, "storage", "write"},   // the temporary file of a table
        {9, "storage", "rename"},  // over the table; the read-only open of line 10 is nothing
        {11, "storage", "process"},
        {16, "storage", "unlink"}, // by the rm of its shell, two processes down
        {17, "keys", "write"},     // an append of the keys' own
        {18, "keys", "process"},
        {20, "keys", "unlink"},    // by the keys' child, seen before its clone returned
    };
    ASSERT_EQ(s.deeds.size(), std::size(want));
    for (size_t i = 0; i < s.deeds.size(); i++) {
        EXPECT_EQ(s.deeds[i].line, want[i].line) << i;
        EXPECT_EQ(s.deeds[i].thread, want[i].thread) << i;
        EXPECT_EQ(s.deeds[i].what, want[i].what) << i;
    }
}

} // namespace
