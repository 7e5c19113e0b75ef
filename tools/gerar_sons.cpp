// Writes the two sounds the console ships with, as 16-bit mono PCM WAV files:
//   P1Sound.wav  the rearm and silence alert, two alternating tones
//   P8Sound.wav  the default event sound, one short beep
// Usage: gerar_sons <folder>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

constexpr int kTaxa = 22050;
constexpr double kPi = 3.14159265358979323846;

struct Tom {
    double hz;
    double segundos; // 0 Hz is a pause
};

// Each tone fades in and out over a few milliseconds, so it starts and ends without a click.
std::vector<int16_t> sintetizar(const std::vector<Tom> &tons, double volume) {
    std::vector<int16_t> amostras;
    const int rampa = kTaxa / 200; // 5 ms
    for (const Tom &t : tons) {
        const int n = static_cast<int>(t.segundos * kTaxa);
        for (int i = 0; i < n; ++i) {
            double v = 0;
            if (t.hz > 0) {
                double env = 1.0;
                if (i < rampa) env = double(i) / rampa;
                if (n - 1 - i < rampa) env = double(n - 1 - i) / rampa;
                v = volume * env * std::sin(2 * kPi * t.hz * i / kTaxa);
            }
            amostras.push_back(static_cast<int16_t>(std::lround(v * 32767)));
        }
    }
    return amostras;
}

void le32(std::ofstream &out, uint32_t v) {
    const char b[4] = {char(v & 0xff), char((v >> 8) & 0xff), char((v >> 16) & 0xff),
                       char((v >> 24) & 0xff)};
    out.write(b, 4);
}

void le16(std::ofstream &out, uint16_t v) {
    const char b[2] = {char(v & 0xff), char((v >> 8) & 0xff)};
    out.write(b, 2);
}

bool gravarWav(const std::filesystem::path &arquivo, const std::vector<int16_t> &amostras) {
    const std::filesystem::path tmp = arquivo.string() + ".tmp";
    {
        std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
        if (!out) return false;
        const uint32_t dados = static_cast<uint32_t>(amostras.size() * 2);
        out.write("RIFF", 4);
        le32(out, 36 + dados);
        out.write("WAVE", 4);
        out.write("fmt ", 4);
        le32(out, 16);        // size of the format chunk
        le16(out, 1);         // PCM
        le16(out, 1);         // mono
        le32(out, kTaxa);     // sample rate
        le32(out, kTaxa * 2); // byte rate
        le16(out, 2);         // block align
        le16(out, 16);        // bits per sample
        out.write("data", 4);
        le32(out, dados);
        for (int16_t s : amostras)
            le16(out, static_cast<uint16_t>(s));
        if (!out.flush()) return false;
    }
    std::error_code ec;
    std::filesystem::rename(tmp, arquivo, ec);
    return !ec;
}

} // namespace

int main(int argc, char **argv) {
    if (argc != 2) {
        std::fprintf(stderr, "uso: %s <pasta>\n", argv[0]);
        return 2;
    }
    const std::filesystem::path pasta = argv[1];
    std::error_code ec;
    std::filesystem::create_directories(pasta, ec);
    if (ec) {
        std::fprintf(stderr, "gerar_sons: %s: %s\n", pasta.string().c_str(), ec.message().c_str());
        return 1;
    }

    const auto alerta = sintetizar({{880, 0.18},
                                    {0, 0.04},
                                    {660, 0.18},
                                    {0, 0.04},
                                    {880, 0.18},
                                    {0, 0.04},
                                    {660, 0.18},
                                    {0, 0.16}},
                                   0.6);
    const auto bip = sintetizar({{1000, 0.22}, {0, 0.05}}, 0.5);

    if (!gravarWav(pasta / "P1Sound.wav", alerta) || !gravarWav(pasta / "P8Sound.wav", bip)) {
        std::fprintf(stderr, "gerar_sons: não foi possível gravar em %s\n", pasta.string().c_str());
        return 1;
    }
    return 0;
}
