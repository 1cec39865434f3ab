// The console's audio messages.
#include "web/Audio.h"

#include "remote/AudioTap.h"

#include <cstring>

void WebAudioTake(WebAudioDown* down, std::vector<int16_t>* out) {
    int16_t mono[1024];
    size_t n;
    while ((n = AudioTapTake(mono, sizeof mono / sizeof mono[0])) > 0)
        for (size_t i = 0; i < n; i++) {
            // Three samples averaged: a plain low-pass ahead of the decimation,
            // enough for a receiver's audio bandwidth.
            down->sum += mono[i];
            if (++down->have == 3) {
                out->push_back(static_cast<int16_t>(down->sum / 3));
                down->sum = 0;
                down->have = 0;
            }
        }
}

void WebAudioQueue(std::vector<int16_t>* pending, const std::vector<int16_t>& samples) {
    pending->insert(pending->end(), samples.begin(), samples.end());
    if (pending->size() > kWebAudioKeep)
        pending->erase(pending->begin(), pending->end() - static_cast<long>(kWebAudioKeep));
}

void WebAudioMessage(const std::vector<int16_t>& samples, size_t pre, std::vector<uint8_t>* out) {
    out->assign(pre, 0);
    out->insert(out->end(), {'P', 'C', 'M', '1'});
    for (int16_t v : samples) {
        out->push_back(static_cast<uint8_t>(v & 0xFF));
        out->push_back(static_cast<uint8_t>((v >> 8) & 0xFF));
    }
}

bool WebMicSamples(const uint8_t* data, size_t n, std::vector<int16_t>* mono) {
    if (n < 4 || std::memcmp(data, "MIC1", 4) != 0 || (n - 4) % 2 != 0 || (n - 4) / 2 > kWebMicFrames)
        return false;
    mono->resize((n - 4) / 2);
    for (size_t i = 0; i < mono->size(); i++)
        (*mono)[i] = static_cast<int16_t>(data[4 + 2 * i] | (data[5 + 2 * i] << 8));
    return true;
}
