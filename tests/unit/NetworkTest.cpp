// /etc/network/interfaces: what is read, what a save rewrites and what it
// leaves exactly as it was.
#include "RootedWorks.h"

#include "ui/Network.h"

#include <sys/stat.h>

namespace {

class Network : public RootedWorks {
  protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(RootedWorks::SetUp());
        ASSERT_TRUE(
            SimWriteScript(dir.path, "/bin/ifdown", "echo down >> \"$PANEL_ROOT/sim/if.log\"\n"));
        ASSERT_TRUE(
            SimWriteScript(dir.path, "/bin/ifup", "echo up >> \"$PANEL_ROOT/sim/if.log\"\n"));
    }
    std::string path() const { return dir.path + "/etc/network/interfaces"; }
    void set(Shared<uint8_t>* octets, std::vector<uint8_t> to) {
        for (size_t i = 0; i < 4; i++)
            octets[i] = to[i];
    }
};

const char* const kFile = "auto eth0\n"
                          "iface eth0 inet static\n"
                          "address 192.168.1.20\n"
                          "netmask 255.255.255.0\n"
                          "gateway 192.168.1.1\n"
                          "nameserver 8.8.8.8\n";

TEST_F(Network, FailedRemountOrMissingFileAbortsWithMinusOne) {
    ASSERT_TRUE(WriteFile(path(), kFile));
    ASSERT_EQ(ReadLanParam(), 0);
    set(lan.IP_v, {10, 0, 0, 5});
    ASSERT_TRUE(SimWriteScript(dir.path, "/bin/mount", "exit 32\n"));
    testing::internal::CaptureStderr();
    EXPECT_EQ(SaveLanParam(), -1);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(ReadFile(path()), kFile);
    EXPECT_TRUE(Contains(syslog(), "3 can't mount rw / "));
    EXPECT_TRUE(Contains(err, "can't mount rw / "));
    EXPECT_FALSE(FileExists(dir.path + "/sim/if.log"));
    // The edit stays in memory for another try.
    EXPECT_EQ(lan.IP_v[0], 10);

    ASSERT_TRUE(SimWriteScript(dir.path, "/bin/mount", "exit 0\n"));
    ASSERT_EQ(unlink(path().c_str()), 0);
    testing::internal::CaptureStderr();
    EXPECT_EQ(SaveLanParam(), -1);
    err = testing::internal::GetCapturedStderr();
    EXPECT_TRUE(Contains(err, "Error opening network connection configuration file. CODE: 2\n"));
    EXPECT_FALSE(FileExists(path()));
    EXPECT_EQ(ReadLanParam(), -1);
}

TEST_F(Network, NoGatewayLineGetsNoneAndAnEmptyOneTakesAnEdit) {
    // No gateway line at all: none is added, whatever was edited.
    ASSERT_TRUE(WriteFile(path(), "address 192.168.1.20\nnetmask 255.255.255.0\n"));
    ASSERT_EQ(ReadLanParam(), 0);
    EXPECT_EQ(lan.Gateway_none, 1);
    EXPECT_EQ(lan.DNS_none, 1);
    set(lan.Gateway_v, {192, 168, 1, 254});
    EXPECT_EQ(SaveLanParam(), 0);
    EXPECT_EQ(ReadFile(path()), "address 192.168.1.20\nnetmask 255.255.255.0\n");
    EXPECT_TRUE(lan.Gateway.equals(""));

    // Empty lines at start-up: untouched they stay empty, edited they are written.
    set(lan.Gateway_v, {0, 0, 0, 0});
    ASSERT_TRUE(WriteFile(path(), "address 192.168.1.20\ngateway\nnameserver \n"));
    ASSERT_EQ(ReadLanParam(), 0);
    EXPECT_EQ(lan.Gateway_none, 1);
    EXPECT_EQ(lan.DNS_none, 1);
    EXPECT_EQ(SaveLanParam(), 0);
    EXPECT_EQ(ReadFile(path()), "address 192.168.1.20\ngateway \nnameserver \n");
    set(lan.Gateway_v, {192, 168, 1, 254});
    set(lan.DNS_v, {1, 1, 1, 1});
    EXPECT_EQ(SaveLanParam(), 0);
    EXPECT_EQ(ReadFile(path()),
              "address 192.168.1.20\ngateway 192.168.1.254\nnameserver 1.1.1.1\n");
    EXPECT_TRUE(lan.Gateway.equals("192.168.1.254"));
    EXPECT_TRUE(lan.DNS.equals("1.1.1.1"));
    EXPECT_EQ(lan.Gateway_none, 0);
    ASSERT_EQ(ReadLanParam(), 0);
    EXPECT_EQ(lan.Gateway_v[3], 254);
}

TEST_F(Network, ALinkIsWrittenThroughAndTheFileKeepsItsModeAndOwner) {
    const std::string real = dir.path + "/etc/network/interfaces.real";
    ASSERT_TRUE(WriteFile(real, kFile));
    ASSERT_EQ(chmod(real.c_str(), 0640), 0);
    if (geteuid() == 0) {
        ASSERT_EQ(chown(real.c_str(), 1234, 5678), 0);
    }
    ASSERT_EQ(symlink("interfaces.real", path().c_str()), 0);
    ASSERT_EQ(ReadLanParam(), 0);
    set(lan.IP_v, {10, 0, 0, 5});
    EXPECT_EQ(SaveLanParam(), 0);

    struct stat st;
    ASSERT_EQ(lstat(path().c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_TRUE(Contains(ReadFile(real), "address 10.0.0.5\n"));
    ASSERT_EQ(stat(real.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    if (geteuid() == 0) {
        EXPECT_EQ(st.st_uid, 1234u);
        EXPECT_EQ(st.st_gid, 5678u);
    }
    EXPECT_FALSE(FileExists(real + ".new"));
}

// A comment line of 140 characters whose tail looks like an address line, a
// line with a NUL byte in it, a name server indented with a tab (neither read
// nor rewritten), an address indented with blanks (read, but left by a save)
// and a second netmask many lines on (the later is read; a save rewrites both).
TEST_F(Network, ASaveRewritesOnlyFirstColumnLinesAndKeepsTheRestByteForByte) {
    const std::string longLine = std::string(132, '#') + "address 1.2.3.4\n";
    std::string kept =
        std::string("up ip link set eth0\0 mtu 1500\n", 30) + "\tnameserver 8.8.8.8\n";
    for (int i = 0; i < 60; i++)
        kept += "# comment " + std::to_string(i) + "\n";
    kept += "   address 192.168.1.21\n";
    ASSERT_TRUE(WriteFile(path(), longLine + "address 192.168.1.20\nnetmask 255.255.255.0\n" +
                                      kept + "netmask 255.255.0.0\n"));
    ASSERT_EQ(ReadLanParam(), 0);
    EXPECT_TRUE(lan.IP.equals("192.168.1.21"));
    EXPECT_TRUE(lan.NetMask.equals("255.255.0.0"));
    EXPECT_EQ(lan.DNS_none, 1);
    set(lan.IP_v, {10, 0, 0, 5});
    EXPECT_EQ(SaveLanParam(), 0);
    EXPECT_EQ(ReadFile(path()), longLine + "address 10.0.0.5\nnetmask 255.255.0.0\n" + kept +
                                    "netmask 255.255.0.0\n");
}

} // namespace
