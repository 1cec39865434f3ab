// The "AQ" message: the operator's changes of the station's amplifier.
#include "remote/AmpRequestMessage.h"

#include "core/Setup.h"
#include "core/Works.h"
#include "platform/Log.h"
#include "wire/Messages.h"

namespace {

struct Letter {
    AmpAsk what;
    char letter;
};
constexpr Letter kLetters[] = {
    {AmpAsk::Standby, 'S'}, {AmpAsk::Operate, 'O'}, {AmpAsk::FaultReset, 'R'},
    {AmpAsk::Antenna, 'A'}, {AmpAsk::Tune, 'T'},
};

} // namespace

size_t BuildAmpRequestMessage(AmpAsk what, int value, char* out, size_t cap) {
    if (cap < kAmpRequestMessageMax)
        return 0;
    for (const Letter& l : kLetters) {
        if (l.what != what)
            continue;
        out[0] = l.letter;
        if (what != AmpAsk::Antenna)
            return 1;
        if (value < 1 || value > 3)
            return 0;
        out[1] = static_cast<char>('0' + value);
        return 2;
    }
    return 0;
}

bool ParseAmpRequestMessage(const uint8_t* p, size_t n, AmpAsk* what, int* value) {
    if (n < 1 || n > kAmpRequestMessageMax)
        return false;
    for (const Letter& l : kLetters) {
        if (l.letter != p[0])
            continue;
        const bool antenna = l.what == AmpAsk::Antenna;
        if (n != (antenna ? 2u : 1u) || (antenna && (p[1] < '1' || p[1] > '3')))
            return false;
        *what = l.what;
        *value = antenna ? p[1] - '0' : 0;
        return true;
    }
    return false;
}

bool AskStationAmplifier(Works* w, AmpAsk what, int value) {
    char text[kAmpRequestMessageMax];
    const size_t n = BuildAmpRequestMessage(what, value, text, sizeof text);
    if (n == 0 || w->setup->WebSocket != '2')
        return false;
    return sendWebSockAmpRequestFrame(w, text, n);
}

void StationAmpRequestReceived(Works* w, const uint8_t* p, size_t n) {
    AmpAsk what;
    int value;
    if (!ParseAmpRequestMessage(p, n, &what, &value)) {
        LogErr("remote: an amplifier request of %zu bytes that is not one, ignored", n);
        return;
    }
    AskAmplifier(w, what, value, "the operator's unit");
}
