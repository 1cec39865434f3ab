// The console's audio messages.
#include "web/Audio.h"

#include "platform/Log.h"
#include "remote/AudioTap.h"

#include <cstring>

namespace {

void push16(std::vector<uint8_t>* out, unsigned v) {
    out->push_back(static_cast<uint8_t>(v & 0xFF));
    out->push_back(static_cast<uint8_t>((v >> 8) & 0xFF));
}

} // namespace

void WebAudioTake(std::vector<int16_t>* raw) {
    int16_t mono[1024];
    size_t n;
    while ((n = AudioTapTake(mono, sizeof mono / sizeof mono[0])) > 0)
        raw->insert(raw->end(), mono, mono + n);
}

void WebAudioDecimate(WebAudioDown* down, const std::vector<int16_t>& raw, std::vector<int16_t>* out) {
    for (int16_t v : raw) {
        // Three samples averaged: a plain low-pass ahead of the decimation,
        // enough for a receiver's audio bandwidth.
        down->sum += v;
        if (++down->have == 3) {
            out->push_back(static_cast<int16_t>(down->sum / 3));
            down->sum = 0;
            down->have = 0;
        }
    }
}

bool WebOpusEncode(WebOpus* opus, const std::vector<int16_t>& raw, std::vector<std::vector<uint8_t>>* packets) {
    if (opus->failed)
        return false;
    if (!opus->encoder) {
        int err = 0;
        opus->encoder = opus_encoder_create(48000, 1, OPUS_APPLICATION_AUDIO, &err);
        if (!opus->encoder) {
            opus->failed = true;
            LogErr("web: no Opus encoder (%s), the consoles get PCM", opus_strerror(err));
            return false;
        }
        opus_encoder_ctl(opus->encoder, OPUS_SET_BITRATE(kWebOpusBitrate));
    }
    opus->frame.insert(opus->frame.end(), raw.begin(), raw.end());
    size_t at = 0;
    unsigned char packet[1500];
    for (; at + kWebOpusFrame <= opus->frame.size(); at += kWebOpusFrame) {
        const opus_int32 n = opus_encode(opus->encoder, opus->frame.data() + at, kWebOpusFrame, packet, sizeof packet);
        if (n > 0)
            packets->emplace_back(packet, packet + n);
    }
    opus->frame.erase(opus->frame.begin(), opus->frame.begin() + static_cast<long>(at));
    return true;
}

void WebOpusEnd(WebOpus* opus) {
    if (opus->encoder)
        opus_encoder_destroy(opus->encoder);
    opus->encoder = nullptr;
    opus->frame.clear();
}

void WebOpusMessage(const std::vector<std::vector<uint8_t>>& packets, size_t pre, std::vector<uint8_t>* out) {
    out->assign(pre, 0);
    out->insert(out->end(), {'O', 'P', 'S', '1'});
    push16(out, static_cast<unsigned>(packets.size()));
    for (const auto& p : packets) {
        push16(out, static_cast<unsigned>(p.size()));
        out->insert(out->end(), p.begin(), p.end());
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
    for (int16_t v : samples)
        push16(out, static_cast<uint16_t>(v));
}

bool WebMicSamples(const uint8_t* data, size_t n, std::vector<int16_t>* mono) {
    if (n < 4 || std::memcmp(data, "MIC1", 4) != 0 || (n - 4) % 2 != 0 || (n - 4) / 2 > kWebMicFrames)
        return false;
    mono->resize((n - 4) / 2);
    for (size_t i = 0; i < mono->size(); i++)
        (*mono)[i] = static_cast<int16_t>(data[4 + 2 * i] | (data[5 + 2 * i] << 8));
    return true;
}
