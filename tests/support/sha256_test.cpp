// The running digest that --verify compares when the input cannot be read twice.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "support/sha256.h"

namespace dls2mml {
namespace {

std::string hex(const Sha256::Digest& digest)
{
    std::string text;
    char pair[3];
    for (std::uint8_t byte : digest) {
        std::snprintf(pair, sizeof pair, "%02x", byte);
        text += pair;
    }
    return text;
}

std::span<const std::uint8_t> bytesOf(const std::string& text)
{
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

TEST(Sha256, KnownDigests)
{
    struct Vector {
        std::string message;
        const char* digest;
    };
    const Vector vectors[] = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
    for (const Vector& v : vectors) {
        Sha256 digest;
        digest.add(bytesOf(v.message));
        EXPECT_EQ(hex(digest.finish()), v.digest) << v.message.size() << " bytes";
    }
}

// Pieces of any size, around the 64-byte block and the 56-byte padding edge,
// give the digest of the whole.
TEST(Sha256, PiecesGiveTheDigestOfTheWhole)
{
    std::string message;
    for (int i = 0; i < 1000; ++i)
        message += static_cast<char>(i * 131 + 7);
    for (std::size_t length : {0u, 1u, 55u, 56u, 63u, 64u, 65u, 119u, 120u, 1000u}) {
        const std::string part = message.substr(0, length);
        Sha256 whole;
        whole.add(bytesOf(part));
        const Sha256::Digest expected = whole.finish();
        for (std::size_t piece : {1u, 3u, 63u, 64u, 65u}) {
            Sha256 pieces;
            for (std::size_t at = 0; at < part.size(); at += piece)
                pieces.add(bytesOf(part.substr(at, piece)));
            EXPECT_EQ(pieces.finish(), expected) << length << " bytes in pieces of " << piece;
        }
    }
}

} // namespace
} // namespace dls2mml
