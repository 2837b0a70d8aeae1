#include "shell/document/output_name.h"

namespace dls2mml {

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

std::optional<std::string> deriveBankName(std::string_view documentPath)
{
    constexpr std::string_view extension = ".mml";
    if (documentPath.size() < extension.size() ||
        lowerAscii(documentPath.substr(documentPath.size() - extension.size())) != extension)
        return std::nullopt;
    const std::string_view stem = documentPath.substr(0, documentPath.size() - extension.size());
    const std::size_t at = lowerAscii(stem).find("_dls");
    if (at == std::string::npos)
        return std::nullopt;
    std::string bank(stem);
    bank[at] = '.';
    // A ".dls" before the one restored would take the underscore instead.
    const std::optional<std::string> back = deriveOutputName(bank, lowerAscii(bank));
    if (!back || std::string_view(*back).substr(0, stem.size()) != stem)
        return std::nullopt;
    return bank;
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
