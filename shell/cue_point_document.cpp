#include "shell/cue_point_document.h"

#include <cstdio>

#include "text/base64_lines.h"

namespace dls2mml {

std::string formatSizesLine(std::uint64_t inputLength, std::uint64_t streamLength)
{
    char line[48];
    const int length = std::snprintf(line, sizeof line, "(%llu %llu)\n", static_cast<unsigned long long>(inputLength),
                                     static_cast<unsigned long long>(streamLength));
    return std::string(line, static_cast<std::size_t>(length));
}

std::uint64_t documentLength(std::uint64_t inputLength, std::uint64_t streamLength)
{
    return documentHead.size() + formatSizesLine(inputLength, streamLength).size() +
           base64LinesLength(streamLength) + documentFooter.size();
}

std::optional<std::size_t> findDlsMark(std::string_view lowerPath)
{
    const std::size_t at = lowerPath.find(".dls");
    if (at == std::string_view::npos)
        return std::nullopt;
    return at;
}

std::optional<std::string> deriveOutputName(std::string_view path, std::string_view lowerPath)
{
    const std::optional<std::size_t> mark = findDlsMark(lowerPath);
    if (!mark || *mark >= path.size())
        return std::nullopt;
    std::string name(path);
    name[*mark] = '_';
    name += ".mml";
    return name;
}

std::string lowerAscii(std::string_view text)
{
    std::string lower(text);
    for (char& c : lower)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return lower;
}

} // namespace dls2mml
