// RIFF chunks written by hand, for tests that make small DLS banks.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

namespace dls2mml::test {

using Chunk = std::vector<std::uint8_t>;

inline void put32(Chunk& out, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

inline Chunk words(std::initializer_list<std::uint32_t> values)
{
    Chunk out;
    for (std::uint32_t v : values)
        put32(out, v);
    return out;
}

// A chunk with its pad byte when the body is odd.
inline Chunk chunk(const char* id, const Chunk& body)
{
    Chunk out(id, id + 4);
    put32(out, static_cast<std::uint32_t>(body.size()));
    out.insert(out.end(), body.begin(), body.end());
    if (body.size() & 1)
        out.push_back(0);
    return out;
}

// kind is "LIST" or "RIFF".
inline Chunk list(const char* kind, const char* type, const std::vector<Chunk>& children)
{
    Chunk body(type, type + 4);
    for (const Chunk& c : children)
        body.insert(body.end(), c.begin(), c.end());
    return chunk(kind, body);
}

// A NUL-terminated string, as INFO chunks hold it.
inline Chunk zstring(const std::string& s)
{
    Chunk out(s.begin(), s.end());
    out.push_back(0);
    return out;
}

} // namespace dls2mml::test
