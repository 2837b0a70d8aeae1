// make_sample_bank: writes a small but complete DLS instrument bank made of
// synthesized waves, for the demo, the tests and the benchmarks.
//
//   make_sample_bank OUT.dls [--size BYTES] [--seed N] [--shared] [--level2]
//
// Layout: RIFF 'DLS ' { colh, vers, LIST lins { LIST ins x2 }, ptbl,
// LIST wvpl { LIST wave { fmt, wsmp, data, LIST INFO } ... }, LIST INFO }.
// Instrument 1 is melodic (two key ranges, articulation on the instrument);
// instrument 2 is a drum kit with one region per remaining wave, each with its
// own articulation. --size adds waves (tones with vibrato and envelopes, noise
// bursts, silence) until the file is about BYTES long. The output depends only
// on the arguments.
// --shared adds a third instrument, a melodic pad whose two regions use waves
// that instrument 1 and the kit use too. --level2 writes every region as a
// 'rgn2' list that starts with a cdl conditional chunk, and every
// articulation as a 'lar2' list with an 'art2' chunk. Waves are planned first so every size and pool offset is
// known up front, then the sample data is synthesized and streamed out.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

bool level2 = false; // --level2
bool shared = false; // --shared

// Little-endian RIFF writer with back-patched chunk sizes.
struct Writer {
    Bytes out;
    std::vector<std::size_t> open;
    void u8(unsigned v) { out.push_back(static_cast<std::uint8_t>(v)); }
    void u16(unsigned v) { u8(v & 0xFF); u8((v >> 8) & 0xFF); }
    void u32(std::uint32_t v) { u16(v & 0xFFFF); u16(v >> 16); }
    void s32(std::int32_t v) { u32(static_cast<std::uint32_t>(v)); }
    void id(const char* four) { out.insert(out.end(), four, four + 4); }
    void begin(const char* ck) { id(ck); open.push_back(out.size()); u32(0); }
    void list(const char* type) { begin("LIST"); id(type); }
    void end()
    {
        const std::size_t at = open.back();
        open.pop_back();
        const auto size = static_cast<std::uint32_t>(out.size() - at - 4);
        for (int i = 0; i < 4; ++i) out[at + i] = static_cast<std::uint8_t>(size >> (8 * i));
        if (size & 1) u8(0); // chunks start on even offsets
    }
    void info(const std::string& name)
    {
        list("INFO");
        begin("INAM");
        out.insert(out.end(), name.begin(), name.end());
        u8(0);
        end();
        end();
    }
};

enum class Kind { tone, pluck, square, noise, kick, silence };

struct Wave {
    Kind kind;
    std::uint32_t rate;
    std::uint32_t frames;
    std::uint32_t lead;    // frames of silence before the sound
    float freq;            // Hz
    std::uint8_t unityNote;
    bool looped;
    std::uint32_t seed;
    Bytes head, tail;      // everything of the LIST 'wave' before and after the samples
};

struct Rng {
    std::uint32_t s;
    std::uint32_t next() { s ^= s << 13; s ^= s >> 17; s ^= s << 5; return s; }
    float unit() { return static_cast<float>(next() >> 8) * (1.0f / 16777216.0f); } // [0, 1)
    std::uint32_t below(std::uint32_t n) { return next() % n; }
};

const char* kindName(Kind k)
{
    switch (k) {
    case Kind::tone: return "Tone";
    case Kind::pluck: return "Pluck";
    case Kind::square: return "Square";
    case Kind::noise: return "Noise";
    case Kind::kick: return "Kick";
    case Kind::silence: return "Silence";
    }
    return "Wave";
}

// Builds the wave's chunk bytes around its sample data.
void layOut(Wave& w, std::size_t index)
{
    Writer h;
    h.list("wave");
    h.begin("fmt ");
    h.u16(1); h.u16(1); h.u32(w.rate); h.u32(w.rate * 2); h.u16(2); h.u16(16);
    h.end();
    h.begin("wsmp");
    h.u32(20); h.u16(w.unityNote); h.u16(0); h.s32(0); h.u32(0); h.u32(w.looped ? 1 : 0);
    if (w.looped) { // sustain loop over the last half of the sound
        const std::uint32_t start = w.lead + w.frames / 2;
        h.u32(16); h.u32(0); h.u32(start); h.u32(w.lead + w.frames - start);
    }
    h.end();
    h.begin("data"); // size patched below; the samples themselves are streamed
    w.head = std::move(h.out);
    Writer t;
    t.info(std::string(kindName(w.kind)) + " " + std::to_string(index + 1));
    w.tail = std::move(t.out);
    const std::uint32_t dataBytes = (w.lead + w.frames) * 2;
    const auto listBytes = static_cast<std::uint32_t>(w.head.size() - 8 + dataBytes + w.tail.size());
    for (int i = 0; i < 4; ++i) {
        w.head[4 + i] = static_cast<std::uint8_t>(listBytes >> (8 * i));
        w.head[w.head.size() - 4 + i] = static_cast<std::uint8_t>(dataBytes >> (8 * i));
    }
}

std::uint32_t waveListSize(const Wave& w)
{
    // LIST header (8) is inside head; the LIST's own size excludes it.
    return static_cast<std::uint32_t>(w.head.size() - 8 + (w.lead + w.frames) * 2 + w.tail.size());
}

std::array<float, 4096> sineTable;

float sine(std::uint32_t phase) { return sineTable[phase >> 20]; }

// Synthesizes one wave's samples (16-bit little-endian) into out.
void synthesize(const Wave& w, Bytes& out)
{
    const std::uint32_t total = w.lead + w.frames;
    out.assign(std::size_t{total} * 2, 0);
    Rng rng{w.seed | 1};
    const float rate = static_cast<float>(w.rate);
    const float inc = w.freq * 4294967296.0f / rate;
    const float vibInc = 5.5f * 4294967296.0f / rate;
    const std::uint32_t attack = std::max<std::uint32_t>(1, w.rate / (w.kind == Kind::tone ? 40 : 800));
    const float decay = std::exp(-1.0f / (rate * (w.kind == Kind::noise ? 0.08f : w.kind == Kind::kick ? 0.15f : 0.4f)));
    const float sustain = w.kind == Kind::tone ? 0.6f : 0.0f;
    const std::uint32_t release = w.frames / 10 + 1;
    std::uint32_t phase = 0, vib = 0;
    float env = 1.0f, lowpass = 0.0f, kickInc = inc * 4.0f;
    for (std::uint32_t i = 0; i < w.frames && w.kind != Kind::silence; ++i) {
        float gain = i < attack ? static_cast<float>(i) / static_cast<float>(attack) : env;
        if (i >= attack) env = sustain + (env - sustain) * decay;
        if (i + release > w.frames) gain *= static_cast<float>(w.frames - i) / static_cast<float>(release);
        float x = 0.0f;
        switch (w.kind) {
        case Kind::tone:
            x = sine(phase) + 0.4f * sine(phase * 2) + 0.2f * sine(phase * 3);
            phase += static_cast<std::uint32_t>(inc * (1.0f + 0.006f * sine(vib)));
            vib += static_cast<std::uint32_t>(vibInc);
            x *= 0.55f;
            break;
        case Kind::pluck:
            x = sine(phase) + env * 0.5f * sine(phase * 2) + env * env * 0.3f * sine(phase * 5);
            phase += static_cast<std::uint32_t>(inc);
            x *= 0.6f;
            break;
        case Kind::square:
            x = (phase < 0x80000000u ? 0.45f : -0.45f);
            phase += static_cast<std::uint32_t>(inc);
            break;
        case Kind::noise:
            lowpass += 0.35f * ((rng.unit() * 2.0f - 1.0f) - lowpass);
            x = lowpass * 1.4f;
            break;
        case Kind::kick:
            x = sine(phase) * 0.9f + (rng.unit() - 0.5f) * 0.1f * env;
            phase += static_cast<std::uint32_t>(kickInc);
            kickInc = inc + (kickInc - inc) * 0.9995f;
            break;
        case Kind::silence:
            break;
        }
        // The floor of a recording: a little noise under the sound.
        const float noiseFloor = (rng.unit() - 0.5f) * (3.0f / 32768.0f);
        const long v = std::lround((x * gain + noiseFloor) * 32767.0f);
        const auto s = static_cast<std::int16_t>(std::clamp(v, -32768L, 32767L));
        const std::size_t at = std::size_t{w.lead + i} * 2;
        out[at] = static_cast<std::uint8_t>(s & 0xFF);
        out[at + 1] = static_cast<std::uint8_t>((s >> 8) & 0xFF);
    }
}

std::int32_t timecents(double seconds) { return static_cast<std::int32_t>(std::lround(1200.0 * std::log2(seconds) * 65536.0)); }

// art1 connection blocks: envelope, vibrato and velocity response.
void articulation(Writer& w, double attack, double decay, double release, unsigned sustainPermille, bool vibrato)
{
    struct Block { unsigned src, ctl, dst, trn; std::int32_t scale; };
    std::vector<Block> blocks = {
        {0x0000, 0, 0x0206, 0, timecents(attack)},              // EG1 attack time
        {0x0000, 0, 0x0207, 0, timecents(decay)},               // EG1 decay time
        {0x0000, 0, 0x020A, 0, static_cast<std::int32_t>(sustainPermille * 65536)}, // EG1 sustain level
        {0x0000, 0, 0x0209, 0, timecents(release)},             // EG1 release time
        {0x0002, 0, 0x0001, 1, -960 * 65536},                   // velocity -> attenuation, concave
    };
    if (vibrato) {
        blocks.push_back({0x0000, 0, 0x0104, 0, -851 * 65536}); // LFO frequency (about 5 Hz)
        blocks.push_back({0x0001, 0, 0x0003, 0, 12 * 65536});   // LFO -> pitch, 12 cents
    }
    w.list(level2 ? "lar2" : "lart");
    w.begin(level2 ? "art2" : "art1");
    w.u32(8);
    w.u32(static_cast<std::uint32_t>(blocks.size()));
    for (const Block& b : blocks) { w.u16(b.src); w.u16(b.ctl); w.u16(b.dst); w.u16(b.trn); w.s32(b.scale); }
    w.end();
    w.end();
}

void region(Writer& w, const Wave& wave, std::uint32_t index, unsigned keyLow, unsigned keyHigh, unsigned velLow,
            unsigned velHigh, bool ownArticulation)
{
    w.list(level2 ? "rgn2" : "rgn ");
    if (level2) { // a conditional that always holds: the constant 1
        w.begin("cdl ");
        w.u16(0x0010); w.u32(1);
        w.end();
    }
    w.begin("rgnh");
    w.u16(keyLow); w.u16(keyHigh); w.u16(velLow); w.u16(velHigh); w.u16(1); w.u16(0);
    w.end();
    w.begin("wsmp");
    w.u32(20); w.u16(wave.unityNote); w.u16(0); w.s32(0); w.u32(0); w.u32(0);
    w.end();
    w.begin("wlnk");
    w.u16(0); w.u16(0); w.u32(1); w.u32(index);
    w.end();
    if (ownArticulation) articulation(w, 0.001, 0.3 + 0.01 * (index % 50), 0.2, 0, false);
    w.end();
}

std::vector<Wave> planWaves(std::uint64_t size, std::uint32_t seed)
{
    Rng rng{seed * 2654435761u + 12345u};
    std::vector<Wave> waves = {
        {Kind::tone, 22050, 4410, 0, 261.63f, 60, true, rng.next(), {}, {}},
        {Kind::tone, 22050, 3308, 0, 523.25f, 72, true, rng.next(), {}, {}},
        {Kind::noise, 22050, 2205, 0, 0.0f, 38, false, rng.next(), {}, {}},
        {Kind::kick, 22050, 3308, 0, 55.0f, 36, false, rng.next(), {}, {}},
        {Kind::square, 11025, 1103, 0, 220.0f, 57, false, rng.next(), {}, {}},
        {Kind::silence, 11025, 512, 0, 0.0f, 60, false, rng.next(), {}, {}},
    };
    constexpr std::uint64_t overhead = 1100; // everything but the waves, roughly
    constexpr std::uint64_t perWave = 280;   // wave chunks, pool cue and kit region
    std::uint64_t used = overhead;
    for (const Wave& w : waves) used += perWave + std::uint64_t{w.frames} * 2;
    static constexpr Kind mix[] = {Kind::tone, Kind::pluck, Kind::noise, Kind::tone, Kind::kick,
                                   Kind::square, Kind::pluck, Kind::silence, Kind::tone, Kind::noise};
    while (used + perWave + 1024 < size) {
        Wave w{};
        w.kind = mix[rng.below(10)];
        w.rate = rng.below(3) == 0 ? 22050 : 44100;
        const float seconds = w.kind == Kind::silence ? 0.05f + 0.2f * rng.unit()
                              : w.kind == Kind::noise ? 0.1f + 0.5f * rng.unit()
                                                      : 0.3f + 2.2f * rng.unit();
        w.frames = static_cast<std::uint32_t>(seconds * static_cast<float>(w.rate));
        w.lead = rng.below(4) == 0 ? rng.below(w.rate / 20) : 0;
        w.unityNote = static_cast<std::uint8_t>(36 + rng.below(48));
        w.freq = 440.0f * std::exp2((static_cast<float>(w.unityNote) - 69.0f) / 12.0f);
        w.looped = w.kind == Kind::tone;
        w.seed = rng.next();
        const std::uint64_t room = (size - used - perWave) / 2;
        if (std::uint64_t{w.lead} + w.frames > room) {
            w.lead = 0;
            w.frames = static_cast<std::uint32_t>(room);
        }
        used += perWave + (std::uint64_t{w.lead} + w.frames) * 2;
        waves.push_back(w);
    }
    for (std::size_t i = 0; i < waves.size(); ++i) layOut(waves[i], i);
    return waves;
}

int usage()
{
    std::fputs("usage: make_sample_bank OUT.dls [--size BYTES[k|m|g]] [--seed N] [--shared] [--level2]\n", stderr);
    return 2;
}

bool parseNumber(const char* text, std::uint64_t& value)
{
    char* end = nullptr;
    value = std::strtoull(text, &end, 10);
    if (end == text) return false;
    const char unit = static_cast<char>(*end | 0x20);
    if (unit == 'k') value <<= 10, ++end;
    else if (unit == 'm') value <<= 20, ++end;
    else if (unit == 'g') value <<= 30, ++end;
    return *end == '\0';
}

} // namespace

int main(int argc, char** argv)
{
    const char* outPath = nullptr;
    std::uint64_t size = 0, seed = 1;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if ((arg == "--size" || arg == "--seed") && i + 1 < argc) {
            if (!parseNumber(argv[++i], arg == "--size" ? size : seed)) return usage();
        } else if (arg == "--shared") {
            shared = true;
        } else if (arg == "--level2") {
            level2 = true;
        } else if (arg.starts_with("-") || outPath) {
            return usage();
        } else {
            outPath = argv[i];
        }
    }
    if (!outPath) return usage();
    if (size > 0xFFFF0000u) {
        std::fputs("make_sample_bank: --size must stay below 4 GiB (RIFF sizes are 32-bit)\n", stderr);
        return 2;
    }
    for (std::size_t i = 0; i < sineTable.size(); ++i)
        sineTable[i] = static_cast<float>(std::sin(6.283185307179586 * static_cast<double>(i) / 4096.0));

    std::vector<Wave> waves = planWaves(size, static_cast<std::uint32_t>(seed));
    const auto waveCount = static_cast<std::uint32_t>(waves.size());

    // Everything before the wave pool; the RIFF and wvpl sizes are patched in by hand
    // because the pool's samples are streamed after this part.
    Writer w;
    w.id("RIFF");
    w.u32(0);
    w.id("DLS ");
    w.begin("colh");
    w.u32(shared ? 3 : 2);
    w.end();
    w.begin("vers");
    w.u32(0x00010000); w.u32(0x00000001);
    w.end();
    w.list("lins");
    w.list("ins ");
    w.begin("insh");
    w.u32(2); w.u32(0); w.u32(80);
    w.end();
    w.list("lrgn");
    region(w, waves[0], 0, 0, 65, 0, 127, false);
    region(w, waves[1], 1, 66, 127, 0, 127, false);
    w.end();
    articulation(w, 0.02, 0.8, 0.4, 600, true);
    w.info("Soft Lead");
    w.end();
    const std::uint32_t kitRegions = waveCount - 2;
    const std::uint32_t layers = (kitRegions + 127) / 128;
    w.list("ins ");
    w.begin("insh");
    w.u32(kitRegions); w.u32(0x80000000u); w.u32(0);
    w.end();
    w.list("lrgn");
    for (std::uint32_t r = 0; r < kitRegions; ++r) {
        const unsigned key = (35 + r) % 128, layer = r / 128;
        region(w, waves[r + 2], r + 2, key, key, layer * 128 / layers, (layer + 1) * 128 / layers - 1, true);
    }
    w.end();
    w.info("Synth Kit");
    w.end();
    if (shared) {
        w.list("ins ");
        w.begin("insh");
        w.u32(2); w.u32(0); w.u32(81);
        w.end();
        w.list("lrgn");
        region(w, waves[1], 1, 0, 59, 0, 127, false);
        region(w, waves[3], 3, 60, 127, 0, 127, false);
        w.end();
        articulation(w, 0.3, 1.5, 1.0, 800, false);
        w.info("Shared Pad");
        w.end();
    }
    w.end(); // lins
    w.begin("ptbl");
    w.u32(8);
    w.u32(waveCount);
    std::uint32_t offset = 0; // from the first byte after the pool's type 'wvpl'
    for (const Wave& wave : waves) {
        w.u32(offset);
        offset += 8 + waveListSize(wave);
    }
    w.end();
    w.id("LIST");
    w.u32(4 + offset);
    w.id("wvpl");
    Writer info;
    info.info("dls2mml sample bank");
    const std::uint64_t riffSize = (w.out.size() - 8) + offset + info.out.size();
    for (int i = 0; i < 4; ++i) w.out[4 + i] = static_cast<std::uint8_t>(riffSize >> (8 * i));

    std::FILE* file = std::fopen(outPath, "wb");
    if (!file) {
        std::fprintf(stderr, "make_sample_bank: %s: cannot create\n", outPath);
        return 1;
    }
    bool ok = std::fwrite(w.out.data(), 1, w.out.size(), file) == w.out.size();
    Bytes samples;
    for (const Wave& wave : waves) {
        synthesize(wave, samples);
        ok = ok && std::fwrite(wave.head.data(), 1, wave.head.size(), file) == wave.head.size();
        ok = ok && std::fwrite(samples.data(), 1, samples.size(), file) == samples.size();
        ok = ok && std::fwrite(wave.tail.data(), 1, wave.tail.size(), file) == wave.tail.size();
    }
    ok = ok && std::fwrite(info.out.data(), 1, info.out.size(), file) == info.out.size();
    ok = (std::fclose(file) == 0) && ok;
    if (!ok) {
        std::fprintf(stderr, "make_sample_bank: %s: write failed\n", outPath);
        std::remove(outPath);
        return 1;
    }
    return 0;
}
