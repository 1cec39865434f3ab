// Any bytes from the transceiver's CAT port, relayed to the remote unit as the
// relay thread does (';'-ended texts of at most 200 bytes, one "CA" frame
// each), read back by the other unit's frame reader and receiver (the first
// byte picks which end receives), which writes them to its own CAT port. Every
// ';'-ended text of at most 123 bytes (what a short frame carries) arrives
// whole, in order, and nothing else does: a longer text is dropped with a log
// line, and of one longer than 200 bytes only the part after its last whole
// 200 bytes is a text at all.
#include "FuzzRoot.h"

#include "platform/SerialPort.h"
#include "wire/Frames.h"
#include "wire/Messages.h"
#include "remote/Receive.h"
#include "tuner/CAT.h"

constexpr size_t kCatTextMax = 200; // a text the relay collects, its ';' included

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Works* w = FuzzWorks();
    if (size < 1) return 0;
    if (size > 32768) size = 32768;
    const uint8_t* cat = data + 1;
    const size_t catLen = size - 1;

    // The link is a pipe: a socket's buffer counts every small frame at the cost
    // of a whole buffer, so it would fill long before the receiver reads.
    int ws[2], port[2];
    if (pipe2(ws, O_CLOEXEC) != 0 || pipe2(port, O_CLOEXEC | O_NONBLOCK) != 0)
        FuzzFail("fuzz: pipe: %s", std::strerror(errno));
    for (int fd : {ws[1], port[1]})
        if (fcntl(fd, F_SETPIPE_SZ, 1 << 20) < (1 << 20))
            FuzzFail("fuzz: a pipe of 1 MiB: %s", std::strerror(errno));

    // The sending unit: the relay's collecting loop over the port's bytes.
    w->wsFD = ws[1];
    w->remoteConnected = 1;
    FuzzQuietly([&] {
        TextFramer<kCatTextMax> text;
        for (size_t i = 0; i < catLen; i++)
            if (text.push(static_cast<char>(cat[i])) == TextStep::Text)
                sendWebSockCatFrame(w, text.text, text.len);
    });
    close(ws[1]);
    w->remoteConnected = 0;
    w->wsFD = -1;

    // The receiving unit, whose relay holds its CAT port open.
    static RemoteSession session;
    session.role = (data[0] & 1) ? WsRole::Client : WsRole::Server;
    session.isFirst = 2;
    status_cat = 1;
    w->catFD = port[1];
    static auto frame = std::make_unique<WsFrame>();
    std::vector<std::string> texts;
    FuzzQuietly([&] {
        const PortWanted wanted = [] { return true; };
        while (WsReadFrame(ws[0], frame.get(), session.role, kWsFrameMax, wanted) == WsRead::Ok) {
            FUZZ_CHECK(frame->type() == 0x82 && frame->form == WsForm::Short && frame->tagIs("CA"),
                       "CAT relay: a frame of type %02x, %zu bytes, that is not CAT text",
                       frame->type(), frame->size);
            texts.emplace_back(reinterpret_cast<const char*>(frame->bytes + frame->dataAt + 2),
                               frame->dataLen - 2);
            FUZZ_CHECK(RemoteReceive(w, &session, *frame) == Dispatch::Continue,
                       "CAT relay: the receiver ended the session");
        }
    });
    status_cat = 0;
    w->catFD = 0;
    std::string onPort;
    char buf[4096];
    ssize_t n;
    while ((n = read(port[0], buf, sizeof buf)) > 0)
        onPort.append(buf, static_cast<size_t>(n));
    for (int fd : {ws[0], port[0], port[1]})
        close(fd);

    // What had to arrive, text by text: each run of 200 bytes without a ';' is
    // dropped, so of a longer text only what follows the last such run remains.
    std::vector<std::string> expected;
    std::string all;
    for (size_t i = 0, start = 0; i < catLen; i++) {
        if (cat[i] != ';') continue;
        const std::string whole(reinterpret_cast<const char*>(cat) + start, i + 1 - start);
        start = i + 1;
        const std::string s = whole.substr(whole.size() - ((whole.size() - 1) % kCatTextMax + 1));
        if (s.size() <= kShortMax) {
            expected.push_back(s);
            all += s;
        }
    }
    FUZZ_CHECK(texts == expected, "CAT relay: %zu texts arrived, %zu expected", texts.size(),
               expected.size());
    FUZZ_CHECK(onPort == all, "CAT relay: %zu bytes reached the port, %zu relayed", onPort.size(),
               all.size());
    FuzzTrimLog();
    return 0;
}

std::vector<std::vector<uint8_t>> FuzzSeeds() {
    const std::string longText = "EX" + std::string(150, '0') + ";";
    const std::string overlong = std::string(250, 'A') + "FA00007074000;";
    return FuzzSeedsOf({
        std::string("\x00", 1) + "FA00014070000;IF00014070000     +000000 00000000;MD2;",
        std::string("\x01") + "DT001;FA00007074000;FB00007074000;;;TX;RX;" + longText + "PS1;",
        std::string("\x02", 1) + overlong + std::string("\0\xff;", 3) + std::string(199, 'B') +
            ";" + std::string(123, 'C'),
    });
}
