// Synthesises the helper's two event sounds as 16-bit mono 44.1 kHz WAV files:
//   snap.wav                the shutter: a soft click, a short mechanical rattle, a second click (~0.2 s)
//   pre-snap-countdown.wav  the countdown tick: a small wooden knock (~0.05 s)
//
//   glimra_sound_gen OUTPUT_DIR
//
// Everything is deterministic, so the files are identical on every build.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <numbers>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr int kRate = 44100;
constexpr double kPi = std::numbers::pi;

using Signal = std::vector<double>;

// RBJ cookbook biquad.
class Biquad {
public:
    static Biquad bandPass(double centre, double q) {
        const double w = 2 * kPi * centre / kRate;
        const double alpha = std::sin(w) / (2 * q);
        return Biquad(alpha, 0, -alpha, 1 + alpha, -2 * std::cos(w), 1 - alpha);
    }
    static Biquad lowPass(double cutoff, double q = std::numbers::sqrt2 / 2) {
        const double w = 2 * kPi * cutoff / kRate;
        const double alpha = std::sin(w) / (2 * q);
        const double c = std::cos(w);
        return Biquad((1 - c) / 2, 1 - c, (1 - c) / 2, 1 + alpha, -2 * c, 1 - alpha);
    }
    static Biquad highPass(double cutoff, double q = std::numbers::sqrt2 / 2) {
        const double w = 2 * kPi * cutoff / kRate;
        const double alpha = std::sin(w) / (2 * q);
        const double c = std::cos(w);
        return Biquad((1 + c) / 2, -(1 + c), (1 + c) / 2, 1 + alpha, -2 * c, 1 - alpha);
    }

    double operator()(double x) {
        const double y = m_b0 * x + m_b1 * m_x1 + m_b2 * m_x2 - m_a1 * m_y1 - m_a2 * m_y2;
        m_x2 = m_x1;
        m_x1 = x;
        m_y2 = m_y1;
        m_y1 = y;
        return y;
    }

private:
    Biquad(double b0, double b1, double b2, double a0, double a1, double a2)
        : m_b0(b0 / a0), m_b1(b1 / a0), m_b2(b2 / a0), m_a1(a1 / a0), m_a2(a2 / a0) {}

    double m_b0, m_b1, m_b2, m_a1, m_a2;
    double m_x1 = 0, m_x2 = 0, m_y1 = 0, m_y2 = 0;
};

// Fast rise, exponential fall: the envelope of anything struck.
double strike(double t, double attack, double decay) {
    if (t < 0)
        return 0;
    const double rise = t < attack ? 0.5 - 0.5 * std::cos(kPi * t / attack) : 1.0;
    return rise * std::exp(-t / decay);
}

// A damped sine: one resonant mode of a struck body.
double mode(double t, double frequency, double decay) {
    return t < 0 ? 0 : std::sin(2 * kPi * frequency * t) * strike(t, 0.0004, decay);
}

void fadeOut(Signal& s, double seconds) {
    const std::size_t n = std::min(s.size(), std::size_t(seconds * kRate));
    for (std::size_t i = 0; i < n; ++i)
        s[s.size() - n + i] *= 0.5 + 0.5 * std::cos(kPi * double(i) / double(n));
}

void normalise(Signal& s, double peak) {
    double max = 0;
    for (double v : s)
        max = std::max(max, std::abs(v));
    if (max > 0)
        for (double& v : s)
            v *= peak / max;
}

// One shutter click: a bright noise transient with a little low body under it.
void addClick(Signal& s, double at, double gain, double brightness, std::mt19937& rng) {
    std::normal_distribution<double> noise(0.0, 1.0);
    Biquad band = Biquad::bandPass(2600 * brightness, 0.9);
    Biquad air = Biquad::highPass(900);
    const std::size_t start = std::size_t(at * kRate);
    const std::size_t length = std::size_t(0.035 * kRate);
    for (std::size_t i = 0; i < length && start + i < s.size(); ++i) {
        const double t = double(i) / kRate;
        const double transient = air(band(noise(rng))) * strike(t, 0.0003, 0.0045);
        const double body = 0.55 * mode(t, 190, 0.012) + 0.25 * mode(t, 410, 0.007);
        s[start + i] += gain * (transient + body);
    }
}

Signal makeSnap() {
    Signal s(std::size_t(0.2 * kRate), 0.0);
    std::mt19937 rng(1839);
    std::normal_distribution<double> noise(0.0, 1.0);

    addClick(s, 0.002, 1.0, 1.0, rng);  // the blades open
    addClick(s, 0.088, 0.8, 1.25, rng); // and close

    // The mechanism's brief rattle between and after the clicks: quieter, darker shaped noise.
    Biquad band = Biquad::bandPass(1700, 0.7);
    for (std::size_t i = 0; i < s.size(); ++i) {
        const double t = double(i) / kRate;
        const double envelope = 0.16 * strike(t - 0.004, 0.003, 0.03) + 0.12 * strike(t - 0.09, 0.002, 0.035);
        s[i] += band(noise(rng)) * envelope;
    }

    // Take the edge off the top end so nothing sounds harsh on small speakers.
    Biquad soften = Biquad::lowPass(7500);
    for (double& v : s)
        v = soften(v);
    fadeOut(s, 0.03);
    normalise(s, 0.7); // -3 dBFS
    return s;
}

Signal makeTick() {
    Signal s(std::size_t(0.05 * kRate), 0.0);
    std::mt19937 rng(77);
    std::normal_distribution<double> noise(0.0, 1.0);
    Biquad knock = Biquad::bandPass(2200, 1.5);
    for (std::size_t i = 0; i < s.size(); ++i) {
        const double t = double(i) / kRate - 0.001;
        // Inharmonic modes of a small wooden block, the higher ones dying first.
        const double wood = mode(t, 880, 0.0105) + 0.55 * mode(t, 1630, 0.0065) + 0.3 * mode(t, 2770, 0.004);
        const double contact = knock(noise(rng)) * strike(t, 0.0002, 0.0012);
        s[i] = wood + 0.35 * contact;
    }
    Biquad soften = Biquad::lowPass(6000);
    for (double& v : s)
        v = soften(v);
    fadeOut(s, 0.012);
    normalise(s, 0.5); // -6 dBFS: a countdown should not startle
    return s;
}

void put16(std::string& out, std::uint16_t v) {
    out += char(v & 0xff);
    out += char(v >> 8);
}
void put32(std::string& out, std::uint32_t v) {
    put16(out, std::uint16_t(v & 0xffff));
    put16(out, std::uint16_t(v >> 16));
}

bool writeWav(const std::string& path, const Signal& s) {
    std::string out;
    const std::uint32_t dataBytes = std::uint32_t(s.size() * 2);
    out += "RIFF";
    put32(out, 36 + dataBytes);
    out += "WAVEfmt ";
    put32(out, 16);
    put16(out, 1); // PCM
    put16(out, 1); // mono
    put32(out, kRate);
    put32(out, kRate * 2);
    put16(out, 2);
    put16(out, 16);
    out += "data";
    put32(out, dataBytes);
    for (double v : s)
        put16(out, std::uint16_t(std::int16_t(std::lround(std::clamp(v, -1.0, 1.0) * 32767))));

    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) {
        std::perror(path.c_str());
        return false;
    }
    const bool ok = std::fwrite(out.data(), 1, out.size(), file) == out.size();
    return std::fclose(file) == 0 && ok;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT_DIR\n", argv[0]);
        return 2;
    }
    const std::string dir = argv[1];
    const bool ok =
        writeWav(dir + "/snap.wav", makeSnap()) && writeWav(dir + "/pre-snap-countdown.wav", makeTick());
    return ok ? 0 : 1;
}
