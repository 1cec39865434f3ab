// A console's asks and held keys.
#include "web/Control.h"

#include <cstdio>
#include <cstring>

WebAsk WebParseAsk(const char* text, size_t n, int* arg) {
    if (n == 0 || n >= kWebAskBytes)
        return WebAsk::None;
    char s[kWebAskBytes];
    std::memcpy(s, text, n);
    s[n] = '\0';
    if (std::strcmp(s, "{\"take\":true}") == 0)
        return WebAsk::Take;
    if (std::strcmp(s, "{\"ack\":true}") == 0)
        return WebAsk::Ack;
    static const struct {
        const char* text;
        WebAsk ask;
        int value;
    } kSwitches[] = {{"{\"listen\":true}", WebAsk::Listen, 1}, {"{\"listen\":\"opus\"}", WebAsk::Listen, 2},
                     {"{\"listen\":false}", WebAsk::Listen, 0},
                     {"{\"talk\":true}", WebAsk::Talk, 1},     {"{\"talk\":false}", WebAsk::Talk, 0}};
    for (const auto& sw : kSwitches)
        if (std::strcmp(s, sw.text) == 0) {
            *arg = sw.value;
            return sw.ask;
        }
    int k = 0, end = 0;
    char down[6] = {};
    if (std::sscanf(s, "{\"key\":%1d,\"down\":%5[a-z]}%n", &k, down, &end) != 2 || end != static_cast<int>(n) ||
        k < 1 || k > 6)
        return WebAsk::None;
    *arg = k;
    if (std::strcmp(down, "true") == 0)
        return WebAsk::KeyDown;
    if (std::strcmp(down, "false") == 0)
        return WebAsk::KeyUp;
    return WebAsk::None;
}

void WebKeyDown(WebKeys* keys, int key, int64_t nowMs) {
    const int i = key - 1;
    keys->held = static_cast<uint8_t>(keys->held | (1 << i));
    keys->downMs[i] = nowMs;
    keys->releaseMs[i] = 0;
}

void WebKeyUp(WebKeys* keys, int key, int64_t nowMs) {
    const int i = key - 1;
    if (!(keys->held & (1 << i)))
        return;
    if (nowMs - keys->downMs[i] >= kWebTapMs)
        keys->held = static_cast<uint8_t>(keys->held & ~(1 << i));
    else
        keys->releaseMs[i] = keys->downMs[i] + kWebTapMs;
}

bool WebKeysDue(WebKeys* keys, int64_t nowMs) {
    const uint8_t before = keys->held;
    for (int i = 0; i < 6; i++)
        if (keys->releaseMs[i] && nowMs >= keys->releaseMs[i]) {
            keys->releaseMs[i] = 0;
            keys->held = static_cast<uint8_t>(keys->held & ~(1 << i));
        }
    return keys->held != before;
}

void WebKeysClear(WebKeys* keys) { *keys = WebKeys{}; }
