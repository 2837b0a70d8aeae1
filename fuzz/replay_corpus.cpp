// Replays saved inputs through one fuzz target's entry point, without
// libFuzzer: built with any compiler and run by CTest, so every seed and every
// input once found by fuzzing stays a regression test in the ordinary and the
// sanitizer builds. A target signals a failed check by aborting, which fails
// the run; the name of the input being replayed is printed first, so a crash
// says which file caused it.
//   replay_<target> PATH...   (a PATH that is a folder stands for its files)
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

namespace fs = std::filesystem;

// The files PATH names, in name order, so a run is the same everywhere.
bool collect(const fs::path& path, std::vector<fs::path>& files)
{
    std::error_code error;
    if (fs::is_directory(path, error)) {
        std::vector<fs::path> found;
        for (const fs::directory_entry& entry : fs::directory_iterator(path, error))
            if (entry.is_regular_file())
                found.push_back(entry.path());
        std::sort(found.begin(), found.end());
        files.insert(files.end(), found.begin(), found.end());
        return !error && !found.empty();
    }
    if (!fs::is_regular_file(path, error))
        return false;
    files.push_back(path);
    return true;
}

bool readFile(const fs::path& path, std::vector<std::uint8_t>& bytes)
{
    std::ifstream in(path, std::ios::binary);
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s PATH...\n", argv[0]);
        return 2;
    }
    std::vector<fs::path> files;
    for (int i = 1; i < argc; ++i)
        if (!collect(argv[i], files)) {
            std::fprintf(stderr, "%s: no input files at %s\n", argv[0], argv[i]);
            return 1;
        }
    std::vector<std::uint8_t> bytes;
    for (const fs::path& file : files) {
        if (!readFile(file, bytes)) {
            std::fprintf(stderr, "%s: cannot read %s\n", argv[0], file.string().c_str());
            return 1;
        }
        std::printf("%s (%zu bytes)\n", file.filename().string().c_str(), bytes.size());
        std::fflush(stdout);
        // An exact-size copy, so a sanitizer sees a read past the end; an
        // empty input still comes with a valid pointer, as from libFuzzer.
        const std::vector<std::uint8_t> input(bytes);
        static const std::uint8_t none = 0;
        LLVMFuzzerTestOneInput(input.empty() ? &none : input.data(), input.size());
    }
    std::printf("%zu inputs replayed\n", files.size());
    return 0;
}
