// Helpers of the jobs' tests: a folder of their own for each test, whole
// files written and read, a conversion by the job, and the document the
// one-shot stages define for an input.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <span>
#include <string>

#include "compressor/block_compressor.h"
#include "shell/conversion_job.h"
#include "shell/document/cue_point_document.h"
#include "shell/document/output_name.h"
#include "support/test_support.h"
#include "text/base64_lines.h"

namespace dls2mml::test {

class TempFolder {
public:
    TempFolder()
    {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        // The clock keeps builds of the suite that run at once out of each other's way.
        path_ = std::filesystem::temp_directory_path() /
                (std::string("dls2mml_test_") + info->name() + "_" +
                 std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
        std::filesystem::remove_all(path_);
        std::filesystem::create_directories(path_);
    }
    ~TempFolder() { std::filesystem::remove_all(path_); }
    std::string file(const std::string& name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
};

inline void writeFile(const std::string& path, const Bytes& bytes)
{
    std::ofstream f(path, std::ios::binary);
    f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

inline std::string readFile(const std::string& path)
{
    std::ifstream f(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), {});
}

inline JobReport convert(const std::string& path, const std::string& outputPath = {})
{
    JobRequest request;
    request.path = path;
    request.lowerPath = lowerAscii(path);
    request.outputPath = outputPath;
    return runConversionJob(request);
}

// The document the format defines, built from the one-shot stages (or, for
// large inputs, from the block form, so the stream needs no worst-case buffer).
inline std::string expectedDocument(const Bytes& input)
{
    Bytes stream;
    if (input.size() < (4u << 20)) {
        stream.resize(compressBound(input.size()));
        std::uint32_t length = 0;
        BlockCompressor compressor;
        static const std::uint8_t none = 0; // an empty vector's data() may be null, which compress refuses
        EXPECT_TRUE(compressor.compress(input.empty() ? &none : input.data(), stream.data(),
                                        static_cast<std::uint32_t>(input.size()), &length));
        stream.resize(length + streamHeaderSize);
    } else {
        BlockCompressor compressor;
        EXPECT_TRUE(compressor.allocateBuffers());
        stream.resize(streamHeaderSize);
        writeStreamHeader(std::span<std::uint8_t, streamHeaderSize>(stream.data(), streamHeaderSize),
                          static_cast<std::uint32_t>(input.size()));
        Bytes frame(frameBound(blockSizeForLevel1));
        for (std::size_t at = 0; at < input.size(); at += blockSizeForLevel1) {
            const std::size_t n = std::min(blockSizeForLevel1, input.size() - at);
            const CompressStatus got = compressor.compressBlock(std::span(input).subspan(at, n), frame);
            EXPECT_TRUE(got);
            stream.insert(stream.end(), frame.begin(), frame.begin() + static_cast<std::ptrdiff_t>(got.length));
        }
        compressor.release();
    }
    const auto total = static_cast<std::uint32_t>(stream.size());
    std::string text(base64LinesLength(total) + 1, '\0');
    text.resize(static_cast<std::size_t>(encodeBase64Lines(stream.data(), total, text.data())));
    return std::string(documentHead) + "(" + std::to_string(input.size()) + " " + std::to_string(total) + ")\n" + text +
           std::string(documentFooter);
}

} // namespace dls2mml::test
