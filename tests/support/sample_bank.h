// Banks from the project's sample generator, read back into memory. Each call
// writes under a name of its own (the running test's name, a count and the
// clock), so tests that run side by side, in one build or in several, never
// share a file.
#pragma once

#ifdef DLS2MML_MAKE_SAMPLE_BANK

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

#include "support/test_support.h"

namespace dls2mml::test {

// The generator's bank for OPTIONS (its command-line options); empty when the
// generator fails, which is also reported as a test failure.
inline Bytes generatedBank(const std::string& options)
{
    static unsigned count = 0;
    const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = info ? std::string(info->test_suite_name()) + "_" + info->name() : "sample";
    for (char& c : name)
        if (c == '/') c = '_';
    const std::string path = ::testing::TempDir() + "bank_" + name + "_" + std::to_string(++count) + "_" +
                             std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()) + ".dls";
    const std::string command = std::string("\"") + DLS2MML_MAKE_SAMPLE_BANK + "\" \"" + path + "\" " + options;
    if (std::system(command.c_str()) != 0) {
        ADD_FAILURE() << "the sample generator failed: " << command;
        std::remove(path.c_str());
        return {};
    }
    std::ifstream in(path, std::ios::binary);
    Bytes bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    in.close();
    std::remove(path.c_str());
    return bytes;
}

} // namespace dls2mml::test

#endif
