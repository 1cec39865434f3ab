// Any bytes as /etc/network/interfaces: the addresses load, are saved by the
// program's own writer and load again to the same octets; the save changes only
// the address, netmask, gateway and nameserver lines of the first column, each
// to its keyword and an address, and leaves every other line byte for byte; a
// second save writes the same file.
#include "FuzzRoot.h"

#include "devsim/SimRoot.h"
#include "ui/Network.h"

#include <arpa/inet.h>

namespace {

constexpr const char* kPath = "/etc/network/interfaces";

// The octets of the four addresses and whether gateway and name server are left empty.
std::vector<int> addresses() {
    std::vector<int> a = {lan.Gateway_none, lan.DNS_none};
    for (const Shared<uint8_t>* octets : {lan.IP_v, lan.NetMask_v, lan.Gateway_v, lan.DNS_v})
        a.insert(a.end(), octets, octets + 4);
    return a;
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    for (size_t at = 0, end; at < text.size(); at = end + 1) {
        end = std::min(text.find('\n', at), text.size() - 1);
        out.push_back(text.substr(at, end + 1 - at));
    }
    return out;
}

// "keyword a.b.c.d\n", or "keyword \n" for a gateway or name server left empty.
bool isAddressLine(const std::string& l, const char* keyword) {
    const size_t k = std::strlen(keyword);
    if (l.compare(0, k, keyword) != 0 || l.size() < k + 2 || l[k] != ' ' || l.back() != '\n')
        return false;
    const std::string value = l.substr(k + 1, l.size() - k - 2);
    if (value.empty())
        return std::strcmp(keyword, "gateway") == 0 || std::strcmp(keyword, "nameserver") == 0;
    in_addr a;
    return inet_pton(AF_INET, value.c_str(), &a) == 1;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzWorks();
    [[maybe_unused]] static const bool once = [] {
        // The interface restart succeeds without touching the machine.
        SimWriteScript(FuzzRootDir(), "/bin/ifdown", "exit 0\n");
        SimWriteScript(FuzzRootDir(), "/bin/ifup", "exit 0\n");
        return true;
    }();
    FuzzWriteFile(kPath, data, size);
    const std::string original(reinterpret_cast<const char*>(data), size);
    FUZZ_CHECK(FuzzQuietly(ReadLanParam) == 0, "network: the file could not be read");
    const std::vector<int> first = addresses();
    const int saved = FuzzQuietly(SaveLanParam);
    const std::string written = FuzzReadFile(kPath);
    if (saved < 0) {
        // Refused (a file too large to be one): left as it was.
        FUZZ_CHECK(written == original, "network: a refused save changed the file");
        return 0;
    }

    // Only the first-column address lines changed, each to a whole address line.
    const std::vector<std::string> before = lines(original), after = lines(written);
    FUZZ_CHECK(before.size() == after.size(), "network: %zu lines became %zu", before.size(),
               after.size());
    for (size_t i = 0; i < before.size(); i++) {
        if (before[i] == after[i]) continue;
        bool address = false;
        for (const char* k : {"address", "netmask", "gateway", "nameserver"})
            address = address ||
                      (before[i].compare(0, std::strlen(k), k) == 0 && isAddressLine(after[i], k));
        FUZZ_CHECK(address, "network: line %zu changed and is no address line of its keyword",
                   i + 1);
    }

    FUZZ_CHECK(FuzzQuietly(ReadLanParam) == 0, "network: the written file could not be read");
    FUZZ_CHECK(addresses() == first, "network: the written file loads to other addresses");
    FUZZ_CHECK(FuzzQuietly(SaveLanParam) >= 0 && FuzzReadFile(kPath) == written,
               "network: a second save writes another file");
    FuzzTrimLog();
    return 0;
}

std::vector<std::vector<uint8_t>> FuzzSeeds() {
    return FuzzSeedsOf({
        // The file of the unit tests, and a Debian file with DHCP and comments.
        "auto eth0\niface eth0 inet static\naddress 192.168.1.20\nnetmask 255.255.255.0\n"
        "gateway 192.168.1.1\nnameserver 8.8.8.8\n",
        "# interfaces(5) file used by ifup(8) and ifdown(8)\nsource-directory "
        "/etc/network/interfaces.d\n"
        "auto lo\niface lo inet loopback\n\nallow-hotplug eth0\niface eth0 inet static\n"
        "    address 10.0.0.2\n\tnetmask 255.0.0.0\naddress 010.000.000.002\r\nnetmask "
        "255.0.0.0\r\n"
        "gateway \nnameserver\n",
        // Words that begin like the keywords, values out of range, a NUL byte,
        // a line longer than the reader takes, no final line end.
        std::string("addresses 1.2.3.4\ngatewayX 9.9.9.9\naddress 300.-1.99999999999.4.5\n"
                    "netmask 255.255\nnameserver ab\0cd\naddress ",
                    104) +
            std::string(200, '7') + "\ngateway 10.1.1.1",
    });
}
