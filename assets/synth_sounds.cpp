// Synthesises Zarv's sound samples at build time, so the repo carries no
// binary audio and the sounds can be tweaked by editing numbers here.
//
// Usage: synth_sounds OUTDIR

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

namespace
{

constexpr int SampleRate = 44100;
constexpr double Pi = 3.14159265358979323846;
constexpr double Peak = 16000.0; // about half of full scale

using Samples = std::vector<double>;

Samples blank(double seconds)
{
    return Samples(static_cast<size_t>(seconds * SampleRate), 0.0);
}

double tone(double freq, double t)
{
    return std::sin(2.0 * Pi * freq * t);
}

// A soft blip when moving through the menu.
Samples menu()
{
    Samples s = blank(0.08);
    for (size_t i = 0; i < s.size(); ++i)
    {
        double t = double(i) / SampleRate;
        s[i] = (tone(660, t) + 0.12 * tone(1320, t)) * std::exp(-t / 0.05);
    }
    return s;
}

// Two rising bell notes when a game starts.
Samples selected()
{
    Samples s = blank(0.30);
    const double second = 0.11;
    for (size_t i = 0; i < s.size(); ++i)
    {
        double t = double(i) / SampleRate;
        double v = (tone(880, t) + 0.15 * tone(1760, t) * std::exp(-t / 0.02)) * std::exp(-t / 0.05);
        if (t >= second)
        {
            double u = t - second;
            v += (tone(1320, u) + 0.15 * tone(2640, u) * std::exp(-u / 0.02)) * std::exp(-u / 0.07);
        }
        s[i] = v;
    }
    return s;
}

// A falling glide when going back to the menu.
Samples stop()
{
    Samples s = blank(0.30);
    double phase = 0.0; // accumulated so the changing pitch stays continuous
    for (size_t i = 0; i < s.size(); ++i)
    {
        double x = double(i) / double(s.size() - 1);
        double freq = 520.0 * std::pow(0.5, x);
        s[i] = std::sin(phase) * (1.0 - 0.4 * x);
        phase += 2.0 * Pi * freq / SampleRate;
    }
    return s;
}

// The ball bouncing off the bat or the arena: short and bright.
Samples zarv()
{
    Samples s = blank(0.10);
    for (size_t i = 0; i < s.size(); ++i)
    {
        double t = double(i) / SampleRate;
        s[i] = (tone(1500, t) + 0.1 * tone(3000, t)) * std::exp(-t / 0.02);
    }
    return s;
}

struct Sound
{
    const char* name;
    Samples (*make)();
};

const Sound Sounds[] = {
    {"menu.wav", menu},
    {"selected.wav", selected},
    {"stop.wav", stop},
    {"zarv.wav", zarv},
};

// Short linear ramps at both ends so playback never starts or stops on a click,
// then scale so every sound peaks at the same level.
std::vector<int16_t> finish(Samples s)
{
    const size_t n = s.size();
    const size_t in = SampleRate * 3 / 1000;
    const size_t out = SampleRate * 8 / 1000;
    double peak = 0.0;
    for (size_t i = 0; i < n; ++i)
    {
        if (i < in)
            s[i] *= double(i) / in;
        if (n - 1 - i < out)
            s[i] *= double(n - 1 - i) / out;
        peak = std::fmax(peak, std::fabs(s[i]));
    }
    std::vector<int16_t> pcm(n);
    for (size_t i = 0; i < n; ++i)
        pcm[i] = static_cast<int16_t>(std::lround(s[i] * Peak / peak));
    return pcm;
}

void put16(std::string& b, uint32_t v)
{
    b += char(v & 0xff);
    b += char((v >> 8) & 0xff);
}

void put32(std::string& b, uint32_t v)
{
    put16(b, v & 0xffff);
    put16(b, v >> 16);
}

bool writeWav(const std::string& path, const std::vector<int16_t>& pcm)
{
    const auto dataBytes = uint32_t(pcm.size() * 2);
    std::string b = "RIFF";
    put32(b, 36 + dataBytes);
    b += "WAVEfmt ";
    put32(b, 16); // fmt chunk size
    put16(b, 1);  // PCM
    put16(b, 1);  // mono
    put32(b, SampleRate);
    put32(b, SampleRate * 2); // byte rate
    put16(b, 2);              // block align
    put16(b, 16);             // bits per sample
    b += "data";
    put32(b, dataBytes);
    for (int16_t v : pcm)
        put16(b, uint16_t(v));

    std::ofstream f(path, std::ios::binary);
    f.write(b.data(), std::streamsize(b.size()));
    f.close();
    return !f.fail();
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2)
    {
        std::fprintf(stderr, "usage: %s OUTDIR\n", argv[0]);
        return 2;
    }
    for (const Sound& s : Sounds)
    {
        std::string path = std::string(argv[1]) + "/" + s.name;
        if (!writeWav(path, finish(s.make())))
        {
            std::fprintf(stderr, "synth_sounds: cannot write %s\n", path.c_str());
            return 1;
        }
    }
    return 0;
}
