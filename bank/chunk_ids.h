// The RIFF chunk and list ids a DLS bank is read and cut by, as the 32-bit
// little-endian values the bytes of the id make.
#pragma once

#include <cstdint>

namespace dls2mml::chunk {

constexpr std::uint32_t fourcc(const char (&id)[5])
{
    return static_cast<std::uint32_t>(static_cast<unsigned char>(id[0])) |
           static_cast<std::uint32_t>(static_cast<unsigned char>(id[1])) << 8 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(id[2])) << 16 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(id[3])) << 24;
}

inline constexpr std::uint32_t idRiff = fourcc("RIFF");
inline constexpr std::uint32_t idList = fourcc("LIST");
inline constexpr std::uint32_t idDls = fourcc("DLS ");
inline constexpr std::uint32_t idColh = fourcc("colh");
inline constexpr std::uint32_t idDlid = fourcc("dlid");
inline constexpr std::uint32_t idLins = fourcc("lins");
inline constexpr std::uint32_t idIns = fourcc("ins ");
inline constexpr std::uint32_t idInsh = fourcc("insh");
inline constexpr std::uint32_t idLrgn = fourcc("lrgn");
inline constexpr std::uint32_t idRgn = fourcc("rgn ");
inline constexpr std::uint32_t idRgn2 = fourcc("rgn2");
inline constexpr std::uint32_t idWlnk = fourcc("wlnk");
inline constexpr std::uint32_t idPtbl = fourcc("ptbl");
inline constexpr std::uint32_t idWvpl = fourcc("wvpl");
inline constexpr std::uint32_t idWave = fourcc("wave");
inline constexpr std::uint32_t idFmt = fourcc("fmt ");
inline constexpr std::uint32_t idData = fourcc("data");
inline constexpr std::uint32_t idInfo = fourcc("INFO");
inline constexpr std::uint32_t idInam = fourcc("INAM");

} // namespace dls2mml::chunk
