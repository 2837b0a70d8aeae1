// A C++ program using the installed library through find_package(dls2mml):
// encodes "abc" to the known document, decodes it back and gets a clean error
// code from a damaged document. Exit status 0 on success.
#include <dls2mml/dls2mml.h>

#include <cstdio>
#include <string>
#include <vector>

int main()
{
    const std::string known = "//========== .DLS_DATA ==========\n"
                              "CuePoint={\"QelDlsData((3 26)\n"
                              "dGJyMAEAAAADAAAAAAAAAAAI2yQ2C579eAA=)\"}\n";
    std::string document(dls2mml_document_bound(3), '\0');
    std::size_t size = 0;
    if (dls2mml_encode("abc", 3, document.data(), document.size(), &size) != DLS2MML_OK)
        return 1;
    document.resize(size);
    if (document != known) {
        std::fprintf(stderr, "consumer: abc gives another document:\n%s", document.c_str());
        return 1;
    }
    std::uint32_t stated = 0;
    if (dls2mml_document_sizes(document.data(), document.size(), &stated, nullptr) != DLS2MML_OK || stated != 3)
        return 1;
    std::vector<char> bank(stated);
    std::size_t bankSize = 0;
    if (dls2mml_decode(document.data(), document.size(), bank.data(), bank.size(), &bankSize) != DLS2MML_OK ||
        std::string(bank.data(), bankSize) != "abc") {
        std::fprintf(stderr, "consumer: the document does not decode to abc\n");
        return 1;
    }
    std::string damaged = document;
    damaged[damaged.size() - 10] = 'Z';
    const int code = dls2mml_decode(damaged.data(), damaged.size(), bank.data(), bank.size(), &bankSize);
    if (code >= 0 || std::string(dls2mml_strerror(code)) == "unknown result code") {
        std::fprintf(stderr, "consumer: a damaged document gives %d\n", code);
        return 1;
    }
    std::printf("dls2mml %s via find_package: abc encoded and decoded; damaged document: %s\n", dls2mml_version(),
                dls2mml_strerror(code));
    return 0;
}
