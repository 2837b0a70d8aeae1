// Small helpers shared by the test files: byte strings written as hex or text.
#pragma once

#include <cstdint>
#include <cstdio>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

namespace dls2mml::test {

using Bytes = std::vector<std::uint8_t>;

// "61 62 0A" -> {0x61, 0x62, 0x0A}; spaces are optional between pairs.
inline Bytes hex(std::string_view text)
{
    Bytes out;
    int high = -1;
    for (char c : text) {
        int v = -1;
        if (c >= '0' && c <= '9') v = c - '0';
        else if (c >= 'A' && c <= 'F') v = c - 'A' + 10;
        else if (c >= 'a' && c <= 'f') v = c - 'a' + 10;
        if (v < 0) continue;
        if (high < 0) {
            high = v;
        } else {
            out.push_back(static_cast<std::uint8_t>(high * 16 + v));
            high = -1;
        }
    }
    return out;
}

inline Bytes text(std::string_view s) { return Bytes(s.begin(), s.end()); }

inline Bytes repeat(std::uint8_t value, std::size_t count) { return Bytes(count, value); }

inline Bytes repeat(std::string_view pattern, std::size_t times)
{
    Bytes out;
    for (std::size_t i = 0; i < times; ++i) out.insert(out.end(), pattern.begin(), pattern.end());
    return out;
}

inline Bytes concat(std::initializer_list<Bytes> parts)
{
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

inline std::string toHex(const Bytes& bytes)
{
    std::string out;
    char buf[4];
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        std::snprintf(buf, sizeof buf, i ? " %02X" : "%02X", bytes[i]);
        out += buf;
    }
    return out;
}

// Deterministic bytes for generated cases (xorshift32).
struct TestRng {
    std::uint32_t state;
    explicit TestRng(std::uint32_t seed) : state(seed ? seed : 1) {}
    std::uint32_t next()
    {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return state;
    }
    std::uint32_t below(std::uint32_t n) { return next() % n; }
    Bytes bytes(std::size_t n, std::uint32_t alphabet = 256, std::uint8_t first = 0)
    {
        Bytes out(n);
        for (auto& b : out) b = static_cast<std::uint8_t>(first + below(alphabet));
        return out;
    }
};

} // namespace dls2mml::test
