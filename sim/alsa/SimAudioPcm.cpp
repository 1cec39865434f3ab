// A model of the USB sound interface as an ALSA PCM plugin ("type simaudio").
//
// alsa-lib loads it into the panel like any device driver, so the panel's own
// ALSA calls run unchanged. The device keeps real time: playback consumes 48000
// frames a second and capture produces them, against CLOCK_MONOTONIC, and its
// poll descriptor wakes the program as a sound card's interrupts would. Capture
// plays a sine tone (`tone HZ`) or loops a WAV file (`wavfile PATH`); playback
// appends what it has played to `outfile` (signed 16-bit, interleaved, as the
// stream's channels), at the moment it plays it.
//
// `control PATH` lets a test act on the device: while PATH.hold exists the
// device stops (playback's queue grows, capture brings nothing), and while
// PATH.gone exists it is unplugged (every call fails with ENODEV). For
// measuring the latency of the remote link: with `startfile PATH` capture is
// silent until PATH exists and then plays its tone, writing the time (ns of
// CLOCK_MONOTONIC) of the tone's first frame into PATH.at; with `loudfile PATH`
// playback writes the time it plays its first loud frame into PATH.
//
//   pcm_type.simaudio { lib "/path/libasound_module_pcm_simaudio.so" }
//   pcm.tav { type simaudio tone 700 outfile "/tmp/out.raw" control "/tmp/tav" }
#include <alsa/asoundlib.h>
#include <alsa/pcm_external.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <poll.h>
#include <pthread.h>
#include <mutex>
#include <string>
#include <sys/stat.h>
#include <sys/timerfd.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

constexpr unsigned kRate = 48000;

struct SimAudio {
    snd_pcm_ioplug_t io{};
    double toneHz = 0;
    std::vector<int16_t> wav; // interleaved, `wavChannels` wide
    unsigned wavChannels = 1;
    std::string outfile, control, startfile, loudfile;
    int64_t toneFrom = -1; // capture: the first frame of the tone (startfile)
    bool loudSeen = false;
    FILE* out = nullptr;
    int timer = -1;

    // Running state, in frames since the start.
    bool running = false;
    int64_t startNs = 0;
    int64_t heldNs = 0;        // time spent on hold since the start
    int64_t holdSinceNs = -1;  // on hold from then on
    uint64_t done = 0;         // played (playback) or produced (capture)
    uint64_t moved = 0;        // written by the program (playback) or read (capture)
    std::vector<int16_t> ring; // playback frames waiting to be played
    int64_t lastControlNs = INT64_MIN / 2;
    bool held = false, gone = false;

    // A playback device plays on by itself, whether or not the program looks:
    // this thread hands what is due to the file every 2 ms.
    std::mutex mu; // guards all of the above against the thread
    std::thread player;
    std::atomic<bool> closing{false};
};

int64_t nowNs() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

bool exists(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

// The test's switches, looked at every 20 ms at most.
void lookAtControl(SimAudio* a, int64_t now) {
    if (now - a->lastControlNs < 20000000)
        return;
    a->lastControlNs = now;
    if (!a->startfile.empty() && a->toneFrom < 0 && exists(a->startfile))
        a->toneFrom = -2; // from the next frame produced
    if (a->control.empty())
        return;
    a->gone = exists(a->control + ".gone");
    const bool held = exists(a->control + ".hold");
    if (held && a->holdSinceNs < 0)
        a->holdSinceNs = now;
    if (!held && a->holdSinceNs >= 0) {
        a->heldNs += now - a->holdSinceNs;
        a->holdSinceNs = -1;
    }
    a->held = held;
}

void writeTime(const std::string& path, int64_t ns) {
    if (FILE* f = std::fopen(path.c_str(), "w")) {
        std::fprintf(f, "%lld\n", static_cast<long long>(ns));
        std::fclose(f);
    }
}

// Frames the device has played or produced by now.
uint64_t framesDue(SimAudio* a, int64_t now) {
    int64_t ran = now - a->startNs - a->heldNs;
    if (a->holdSinceNs >= 0)
        ran -= now - a->holdSinceNs;
    return ran <= 0 ? 0 : static_cast<uint64_t>(ran * kRate / 1000000000);
}

int16_t sampleAt(SimAudio* a, uint64_t frame, unsigned channel) {
    if (!a->startfile.empty()) {
        if (a->toneFrom == -2) {
            a->toneFrom = static_cast<int64_t>(frame);
            // The time this frame was taken in.
            writeTime(a->startfile + ".at", a->startNs + static_cast<int64_t>(frame) * 1000000000 / kRate);
        }
        if (a->toneFrom < 0 || static_cast<int64_t>(frame) < a->toneFrom)
            return 0;
    }
    if (!a->wav.empty()) {
        const uint64_t frames = a->wav.size() / a->wavChannels;
        const uint64_t f = frame % frames;
        return a->wav[f * a->wavChannels + (channel < a->wavChannels ? channel : 0)];
    }
    if (a->toneHz <= 0)
        return 0;
    return static_cast<int16_t>(std::lround(9830.0 * std::sin(2 * M_PI * a->toneHz * static_cast<double>(frame) / kRate)));
}

// Playback: the frames played since the last look go to the file.
void play(SimAudio* a, uint64_t upTo) {
    const unsigned ch = a->io.channels;
    const snd_pcm_uframes_t size = a->io.buffer_size;
    for (; a->done < upTo; a->done++) {
        const int16_t* f = &a->ring[(a->done % size) * ch];
        if (a->out)
            std::fwrite(f, sizeof(int16_t), ch, a->out);
        if (!a->loudSeen && !a->loudfile.empty() && (f[0] > 1000 || f[0] < -1000)) {
            a->loudSeen = true;
            // When this frame is played: the start of the stream and the frames before it.
            writeTime(a->loudfile, a->startNs + a->heldNs + static_cast<int64_t>(a->done) * 1000000000 / kRate);
        }
    }
    if (a->out)
        std::fflush(a->out);
}

// Frames the program threw away (snd_pcm_reset, snd_pcm_drop) are not played:
// what alsa-lib counts as queued is what the device has.
void forgetDiscarded(snd_pcm_ioplug_t* io, SimAudio* a) {
    if (io->stream != SND_PCM_STREAM_PLAYBACK)
        return;
    const uint64_t queued = snd_pcm_ioplug_hw_avail(io, io->hw_ptr, io->appl_ptr);
    if (a->moved - a->done > queued)
        a->moved = a->done + queued;
}

snd_pcm_sframes_t pointerLocked(snd_pcm_ioplug_t* io) {
    auto* a = static_cast<SimAudio*>(io->private_data);
    const int64_t now = nowNs();
    forgetDiscarded(io, a);
    lookAtControl(a, now);
    if (a->gone)
        return -ENODEV;
    if (!a->running)
        return static_cast<snd_pcm_sframes_t>(a->done % io->buffer_size);
    uint64_t due = framesDue(a, now);
    if (io->stream == SND_PCM_STREAM_PLAYBACK) {
        if (due > a->moved) { // nothing left to play: an underrun
            play(a, a->moved);
            return -EPIPE;
        }
        play(a, due);
    } else {
        if (due - a->moved > io->buffer_size) // not read in time: an overrun
            return -EPIPE;
        a->done = due;
    }
    return static_cast<snd_pcm_sframes_t>(a->done % io->buffer_size);
}

snd_pcm_sframes_t pointer(snd_pcm_ioplug_t* io) {
    auto* a = static_cast<SimAudio*>(io->private_data);
    std::lock_guard<std::mutex> lock(a->mu);
    return pointerLocked(io);
}

// Playback: plays what is due; an underrun is left for the program's next look.
void playOn(SimAudio* a) {
    // The model's own thread: named so that a measure of the program leaves it out.
    pthread_setname_np(pthread_self(), "sim-player");
    while (!a->closing) {
        {
            std::lock_guard<std::mutex> lock(a->mu);
            const int64_t now = nowNs();
            lookAtControl(a, now);
            if (a->running && !a->gone) {
                const uint64_t due = framesDue(a, now);
                play(a, due < a->moved ? due : a->moved);
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

snd_pcm_sframes_t transfer(snd_pcm_ioplug_t* io, const snd_pcm_channel_area_t* areas,
                           snd_pcm_uframes_t offset, snd_pcm_uframes_t size) {
    auto* a = static_cast<SimAudio*>(io->private_data);
    std::lock_guard<std::mutex> lock(a->mu);
    if (a->gone)
        return -ENODEV;
    forgetDiscarded(io, a);
    const unsigned ch = io->channels;
    auto* base = static_cast<int16_t*>(areas[0].addr) + (areas[0].first / 16);
    const unsigned step = areas[0].step / 16; // interleaved: all channels
    for (snd_pcm_uframes_t i = 0; i < size; i++) {
        int16_t* frame = base + (offset + i) * step;
        if (io->stream == SND_PCM_STREAM_PLAYBACK) {
            std::memcpy(&a->ring[((a->moved + i) % io->buffer_size) * ch], frame, ch * sizeof(int16_t));
        } else {
            for (unsigned c = 0; c < ch; c++)
                frame[c] = sampleAt(a, a->moved + i, c);
        }
    }
    a->moved += size;
    return static_cast<snd_pcm_sframes_t>(size);
}

// Playback frames written before the start wait in the ring and are played
// from now on; capture produces from now on.
int start(snd_pcm_ioplug_t* io) {
    auto* a = static_cast<SimAudio*>(io->private_data);
    std::lock_guard<std::mutex> lock(a->mu);
    if (a->gone)
        return -ENODEV;
    a->running = true;
    a->startNs = nowNs();
    a->heldNs = 0;
    a->holdSinceNs = a->held ? a->startNs : -1;
    return 0;
}

int stop(snd_pcm_ioplug_t* io) {
    auto* a = static_cast<SimAudio*>(io->private_data);
    std::lock_guard<std::mutex> lock(a->mu);
    a->running = false;
    return 0;
}

int prepare(snd_pcm_ioplug_t* io) {
    auto* a = static_cast<SimAudio*>(io->private_data);
    std::lock_guard<std::mutex> lock(a->mu);
    if (a->gone)
        return -ENODEV;
    a->running = false;
    a->done = 0;
    a->moved = 0;
    a->ring.assign(io->buffer_size * io->channels, 0);
    return 0;
}

int hwParams(snd_pcm_ioplug_t* io, snd_pcm_hw_params_t*) {
    auto* a = static_cast<SimAudio*>(io->private_data);
    std::lock_guard<std::mutex> lock(a->mu);
    a->ring.assign(io->buffer_size * io->channels, 0);
    // The device wakes the program as a card's period interrupts would: capture
    // once a period (between 1 and 50 ms), playback, whose program writes
    // without waiting, every 2 ms.
    long ns = 2000000;
    if (io->stream == SND_PCM_STREAM_CAPTURE && io->rate > 0)
        ns = std::clamp(static_cast<long>(io->period_size * 1000000000ull / io->rate), 1000000L, 50000000L);
    itimerspec t{};
    t.it_interval.tv_nsec = ns;
    t.it_value.tv_nsec = ns;
    timerfd_settime(a->timer, 0, &t, nullptr);
    return 0;
}

int pollRevents(snd_pcm_ioplug_t* io, struct pollfd* pfd, unsigned int nfds, unsigned short* revents) {
    auto* a = static_cast<SimAudio*>(io->private_data);
    uint64_t ticks;
    if (nfds > 0 && (pfd[0].revents & POLLIN)) {
        ssize_t r = read(a->timer, &ticks, sizeof ticks);
        (void)r;
    }
    std::lock_guard<std::mutex> lock(a->mu);
    const snd_pcm_sframes_t p = pointerLocked(io);
    if (p < 0) {
        *revents = POLLERR;
        return 0;
    }
    const snd_pcm_uframes_t avail =
        snd_pcm_ioplug_avail(io, static_cast<snd_pcm_uframes_t>(a->done), io->appl_ptr);
    const bool ready = io->stream == SND_PCM_STREAM_PLAYBACK ? true : avail >= io->period_size;
    *revents = ready ? (io->stream == SND_PCM_STREAM_PLAYBACK ? POLLOUT : POLLIN) : 0;
    return 0;
}

int closeIt(snd_pcm_ioplug_t* io) {
    auto* a = static_cast<SimAudio*>(io->private_data);
    a->closing = true;
    if (a->player.joinable())
        a->player.join();
    if (a->out)
        std::fclose(a->out);
    if (a->timer >= 0)
        close(a->timer);
    delete a;
    return 0;
}

const snd_pcm_ioplug_callback_t kCallbacks = [] {
    snd_pcm_ioplug_callback_t c{};
    c.start = start;
    c.stop = stop;
    c.pointer = pointer;
    c.transfer = transfer;
    c.close = closeIt;
    c.hw_params = hwParams;
    c.prepare = prepare;
    c.poll_revents = pollRevents;
    return c;
}();

// A PCM16 WAV file: its samples and channel count; false when it is not one.
bool readWav(const char* path, SimAudio* a) {
    FILE* f = std::fopen(path, "rb");
    if (!f)
        return false;
    std::vector<uint8_t> b;
    uint8_t buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0 && b.size() < (64u << 20))
        b.insert(b.end(), buf, buf + n);
    std::fclose(f);
    if (b.size() < 12 || std::memcmp(b.data(), "RIFF", 4) != 0 || std::memcmp(b.data() + 8, "WAVE", 4) != 0)
        return false;
    unsigned channels = 0, bits = 0;
    for (size_t at = 12; at + 8 <= b.size();) {
        const uint32_t len = b[at + 4] | (b[at + 5] << 8) | (b[at + 6] << 16) | (static_cast<uint32_t>(b[at + 7]) << 24);
        const size_t body = at + 8;
        if (body + len > b.size())
            break;
        if (std::memcmp(&b[at], "fmt ", 4) == 0 && len >= 16) {
            channels = b[body + 2] | (b[body + 3] << 8);
            bits = b[body + 14] | (b[body + 15] << 8);
        } else if (std::memcmp(&b[at], "data", 4) == 0 && channels > 0 && bits == 16) {
            a->wavChannels = channels;
            a->wav.resize(len / 2);
            std::memcpy(a->wav.data(), &b[body], a->wav.size() * 2);
            return !a->wav.empty();
        }
        at = body + len + (len & 1);
    }
    return false;
}

} // namespace

extern "C" {

SND_PCM_PLUGIN_DEFINE_FUNC(simaudio) {
    (void)root;
    auto* a = new SimAudio;
    snd_config_iterator_t i, next;
    snd_config_for_each(i, next, conf) {
        snd_config_t* n = snd_config_iterator_entry(i);
        const char* id;
        if (snd_config_get_id(n, &id) < 0)
            continue;
        const char* text = nullptr;
        if (std::strcmp(id, "comment") == 0 || std::strcmp(id, "type") == 0 || std::strcmp(id, "hint") == 0)
            continue;
        if (std::strcmp(id, "tone") == 0) {
            long hz = 0;
            if (snd_config_get_integer(n, &hz) == 0)
                a->toneHz = static_cast<double>(hz);
        } else if (std::strcmp(id, "wavfile") == 0 && snd_config_get_string(n, &text) == 0) {
            if (!readWav(text, a)) {
                SNDERR("simaudio: %s is not a 16-bit WAV file", text);
                delete a;
                return -EINVAL;
            }
        } else if (std::strcmp(id, "outfile") == 0 && snd_config_get_string(n, &text) == 0) {
            a->outfile = text;
        } else if (std::strcmp(id, "control") == 0 && snd_config_get_string(n, &text) == 0) {
            a->control = text;
        } else if (std::strcmp(id, "startfile") == 0 && snd_config_get_string(n, &text) == 0) {
            a->startfile = text;
        } else if (std::strcmp(id, "loudfile") == 0 && snd_config_get_string(n, &text) == 0) {
            a->loudfile = text;
        } else {
            SNDERR("simaudio: unknown field %s", id);
            delete a;
            return -EINVAL;
        }
    }
    lookAtControl(a, nowNs());
    if (a->gone) {
        delete a;
        return -ENODEV; // not plugged in
    }
    if (stream == SND_PCM_STREAM_PLAYBACK && !a->outfile.empty())
        a->out = std::fopen(a->outfile.c_str(), "ab");
    a->timer = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    a->io.version = SND_PCM_IOPLUG_VERSION;
    a->io.name = "simulated USB sound interface";
    a->io.callback = &kCallbacks;
    a->io.private_data = a;
    a->io.poll_fd = a->timer;
    a->io.poll_events = POLLIN;
    a->io.mmap_rw = 0;
    int err = snd_pcm_ioplug_create(&a->io, name, stream, mode);
    if (err < 0) {
        closeIt(&a->io);
        return err;
    }
    static const unsigned accessList[] = {SND_PCM_ACCESS_RW_INTERLEAVED};
    static const unsigned formatList[] = {SND_PCM_FORMAT_S16_LE};
    static const unsigned rateList[] = {kRate};
    snd_pcm_ioplug_set_param_list(&a->io, SND_PCM_IOPLUG_HW_ACCESS, 1, accessList);
    snd_pcm_ioplug_set_param_list(&a->io, SND_PCM_IOPLUG_HW_FORMAT, 1, formatList);
    snd_pcm_ioplug_set_param_list(&a->io, SND_PCM_IOPLUG_HW_RATE, 1, rateList);
    snd_pcm_ioplug_set_param_minmax(&a->io, SND_PCM_IOPLUG_HW_CHANNELS, 1, 2);
    snd_pcm_ioplug_set_param_minmax(&a->io, SND_PCM_IOPLUG_HW_PERIOD_BYTES, 256, 16384);
    snd_pcm_ioplug_set_param_minmax(&a->io, SND_PCM_IOPLUG_HW_PERIODS, 2, 64);
    snd_pcm_ioplug_set_param_minmax(&a->io, SND_PCM_IOPLUG_HW_BUFFER_BYTES, 4096, 65536 * 4);
    if (stream == SND_PCM_STREAM_PLAYBACK)
        a->player = std::thread(playOn, a);
    *pcmp = a->io.pcm;
    return 0;
}

SND_PCM_PLUGIN_SYMBOL(simaudio);

} // extern "C"
