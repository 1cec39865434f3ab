// The simulated sound interface of a root.
#include "devsim/SimAudio.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#ifndef SIM_AUDIO_PLUGIN
#error "SIM_AUDIO_PLUGIN names the simaudio plugin"
#endif

bool SimAudioWriteConfig(const std::string& dir, const std::vector<SimAudioDevice>& devices) {
    std::ostringstream c;
    c << "pcm_type.simaudio { lib \"" << SIM_AUDIO_PLUGIN << "\" }\n";
    for (const SimAudioDevice& d : devices) {
        c << "pcm." << d.name << " { type simaudio";
        if (d.toneHz > 0)
            c << " tone " << d.toneHz;
        if (!d.wavFile.empty())
            c << " wavfile \"" << d.wavFile << "\"";
        if (!d.outFile.empty())
            c << " outfile \"" << d.outFile << "\"";
        if (!d.control.empty())
            c << " control \"" << d.control << "\"";
        if (!d.startFile.empty())
            c << " startfile \"" << d.startFile << "\"";
        if (!d.loudFile.empty())
            c << " loudfile \"" << d.loudFile << "\"";
        c << " }\n";
    }
    std::ofstream f(dir + "/.asoundrc", std::ios::trunc);
    f << c.str();
    return static_cast<bool>(f);
}

bool SimAudioPlug(const std::string& dir, const std::vector<SimAudioDevice>& devices, bool plugged) {
    bool ok = true;
    {
        std::ofstream l(dir + "/sim/lsusb.txt", std::ios::trunc);
        if (plugged)
            l << "Bus 001 Device 004: ID 0d8c:01af C-Media Electronics, Inc. Audio Adapter\n";
        ok = ok && static_cast<bool>(l);
    }
    {
        // The bus as the panel counts it: the other devices stay.
        const std::string bus = dir + "/sim/usb-devices.txt";
        std::string kept;
        std::ifstream in(bus);
        for (std::string line; std::getline(in, line);)
            if (!line.empty() && line.rfind("0d8c:01af", 0) != 0)
                kept += line + "\n";
        in.close();
        std::ofstream out(bus, std::ios::trunc);
        out << kept << (plugged ? "0d8c:01af\n" : "");
        ok = ok && static_cast<bool>(out);
    }
    for (const SimAudioDevice& d : devices) {
        if (d.control.empty())
            continue;
        const std::string gone = d.control + ".gone";
        if (plugged)
            std::remove(gone.c_str());
        else
            ok = ok && static_cast<bool>(std::ofstream(gone));
    }
    return ok;
}

bool SimAudioHold(const SimAudioDevice& device, bool held) {
    const std::string hold = device.control + ".hold";
    if (!held)
        return std::remove(hold.c_str()) == 0;
    return static_cast<bool>(std::ofstream(hold));
}

long long SimAudioTime(const std::string& path) {
    std::ifstream f(path);
    long long ns = -1;
    if (!(f >> ns))
        return -1;
    return ns;
}

std::vector<int16_t> SimAudioRead(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    std::vector<int16_t> s(bytes.size() / 2);
    for (size_t i = 0; i < s.size(); i++)
        s[i] = static_cast<int16_t>(static_cast<uint8_t>(bytes[2 * i]) |
                                    (static_cast<uint8_t>(bytes[2 * i + 1]) << 8));
    return s;
}

double SimAudioToneHz(const std::vector<int16_t>& samples, int channels, size_t from, size_t count) {
    // Upward zero crossings, interpolated; the median period, so that one block
    // dropped or repeated under load (a phase jump) does not move the pitch.
    std::vector<double> at;
    long loud = 0;
    for (size_t i = from + 1; i < from + count && (i + 1) * channels <= samples.size(); i++) {
        const double a = samples[(i - 1) * channels], b = samples[i * channels];
        loud = std::max(loud, std::labs(static_cast<long>(b)));
        if (a < 0 && b >= 0)
            at.push_back(static_cast<double>(i - 1) + (-a) / (b - a));
    }
    if (at.size() < 3 || loud < 300)
        return 0;
    std::vector<double> periods;
    for (size_t i = 1; i < at.size(); i++)
        periods.push_back(at[i] - at[i - 1]);
    std::nth_element(periods.begin(), periods.begin() + periods.size() / 2, periods.end());
    return 48000.0 / periods[periods.size() / 2];
}

long SimAudioFirstLoud(const std::vector<int16_t>& samples, int channels, size_t from, int threshold) {
    for (size_t i = from; (i + 1) * channels <= samples.size(); i++)
        if (std::abs(samples[i * channels]) > threshold)
            return static_cast<long>(i);
    return -1;
}
