#include "png/DeflateJoin.h"

#include <gtest/gtest.h>
#include <libdeflate.h>

#include <random>
#include <set>
#include <vector>

using glimra::png::detail::combineAdler32;
using glimra::png::detail::kJoinSlack;
using glimra::png::detail::makeDeflateStreamJoinable;

namespace {

using Bytes = std::vector<std::uint8_t>;

// Random bytes end in stored blocks, tiny inputs in fixed-code blocks, the rest in dynamic blocks.
Bytes makeInput(std::mt19937& rng, int kind, std::size_t size) {
    Bytes data(size);
    // Seven-byte words.
    const char* words[] = {"capture",        "screen ", "pixels ",       "row row",
                           "\n\n\n\n\n\n\n", "filter ", "\0\0\0\0\0\0\0"};
    for (std::size_t i = 0; i < size; ++i) {
        if (kind == 0)
            data[i] = std::uint8_t(rng());
        else
            data[i] = std::uint8_t(words[(i / 7 + rng() % 2) % 7][i % 7]);
    }
    return data;
}

Bytes compress(libdeflate_compressor* c, const Bytes& in) {
    Bytes out(libdeflate_deflate_compress_bound(c, in.size()) + kJoinSlack);
    out.resize(libdeflate_deflate_compress(c, in.data(), in.size(), out.data(), out.size() - kJoinSlack));
    return out;
}

} // namespace

TEST(DeflateJoin, JoinedStreamsInflateToTheConcatenation) {
    std::mt19937 rng(99);
    std::set<std::size_t> growths;
    libdeflate_decompressor* d = libdeflate_alloc_decompressor();
    for (int level : {1, 6, 12}) {
        libdeflate_compressor* c = libdeflate_alloc_compressor(level);
        for (int round = 0; round < 40; ++round) {
            SCOPED_TRACE(testing::Message() << "level " << level << " round " << round);
            Bytes whole;
            Bytes stream;
            for (int piece = 0; piece < 3; ++piece) {
                const std::size_t size =
                    round % 4 == 0 ? 1 + rng() % 40 : 1 + rng() % (level == 12 ? 50000 : 300000);
                const Bytes input = makeInput(rng, int(rng() % 3), size);
                whole.insert(whole.end(), input.begin(), input.end());
                Bytes compressed = compress(c, input);
                if (piece < 2) {
                    const std::size_t plain = compressed.size();
                    compressed.resize(plain + kJoinSlack);
                    const std::size_t joinable =
                        makeDeflateStreamJoinable(compressed.data(), plain, compressed.size());
                    ASSERT_NE(joinable, 0u);
                    growths.insert(joinable - plain);
                    compressed.resize(joinable);
                }
                stream.insert(stream.end(), compressed.begin(), compressed.end());
            }
            Bytes back(whole.size());
            std::size_t consumed = 0;
            ASSERT_EQ(libdeflate_deflate_decompress_ex(d, stream.data(), stream.size(), back.data(),
                                                       back.size(), &consumed, nullptr),
                      LIBDEFLATE_SUCCESS);
            EXPECT_EQ(consumed, stream.size());
            EXPECT_TRUE(back == whole);
        }
        libdeflate_free_compressor(c);
    }
    libdeflate_free_decompressor(d);
    // Both ways of reaching the byte boundary were taken.
    EXPECT_EQ(growths, (std::set<std::size_t>{4, 5}));
}

TEST(DeflateJoin, RejectsWhatIsNotExactlyOneStream) {
    std::mt19937 rng(7);
    libdeflate_compressor* c = libdeflate_alloc_compressor(1);
    const Bytes good = compress(c, makeInput(rng, 1, 50000));
    libdeflate_free_compressor(c);

    Bytes truncated(good.begin(), good.end() - 3);
    truncated.resize(truncated.size() + kJoinSlack);
    EXPECT_EQ(makeDeflateStreamJoinable(truncated.data(), good.size() - 3, truncated.size()), 0u);

    Bytes trailing = good;
    trailing.push_back(0x42);
    trailing.resize(trailing.size() + kJoinSlack);
    EXPECT_EQ(makeDeflateStreamJoinable(trailing.data(), good.size() + 1, trailing.size()), 0u);

    Bytes noRoom = good;
    EXPECT_EQ(makeDeflateStreamJoinable(noRoom.data(), good.size(), good.size() + 4), 0u);

    Bytes garbage(4096);
    for (auto& b : garbage)
        b = std::uint8_t(rng());
    garbage[0] |= 0x06; // block type 3 is reserved
    const Bytes before = garbage;
    EXPECT_EQ(makeDeflateStreamJoinable(garbage.data(), 4000, garbage.size()), 0u);
    EXPECT_TRUE(garbage == before);
}

TEST(DeflateJoin, CombinesAdler32) {
    std::mt19937 rng(3);
    for (std::size_t size : {std::size_t(1), std::size_t(65521), std::size_t(300007)}) {
        Bytes data(size * 2 + 17);
        for (auto& b : data)
            b = std::uint8_t(rng());
        const std::size_t split = size;
        const std::uint32_t a = libdeflate_adler32(1, data.data(), split);
        const std::uint32_t b = libdeflate_adler32(1, data.data() + split, data.size() - split);
        EXPECT_EQ(combineAdler32(a, b, data.size() - split), libdeflate_adler32(1, data.data(), data.size()));
    }
}
