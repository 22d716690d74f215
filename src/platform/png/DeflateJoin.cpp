#include "png/DeflateJoin.h"

#include <array>
#include <cstring>

namespace glimra::png::detail {

namespace {

// LSB-first bit reader over a byte buffer. Reading past the end yields zero bits; callers detect that
// from the position.
class BitReader {
public:
    BitReader(const std::uint8_t* data, std::size_t size) : m_data(data), m_size(size) {}

    // Makes at least 56 bits available.
    void refill() {
        if (m_pos + 8 <= m_size) {
            std::uint64_t word;
            std::memcpy(&word, m_data + m_pos, 8);
            m_bits |= word << m_count;
            m_pos += (63 - m_count) >> 3;
            m_count |= 56;
        } else {
            while (m_count <= 56) {
                m_bits |= std::uint64_t(m_pos < m_size ? m_data[m_pos] : 0) << m_count;
                ++m_pos;
                m_count += 8;
            }
        }
    }

    std::uint32_t peek(int n) const { return std::uint32_t(m_bits & ((std::uint64_t(1) << n) - 1)); }
    void consume(int n) {
        m_bits >>= n;
        m_count -= n;
    }
    std::uint32_t take(int n) {
        const std::uint32_t v = peek(n);
        consume(n);
        return v;
    }

    std::size_t bitPosition() const { return m_pos * 8 - std::size_t(m_count); }

    void seek(std::size_t bit) {
        m_pos = bit / 8;
        m_bits = 0;
        m_count = 0;
        refill();
        consume(int(bit % 8));
    }

    bool overran() const { return bitPosition() > m_size * 8; }

private:
    const std::uint8_t* m_data;
    std::size_t m_size;
    std::size_t m_pos = 0;
    std::uint64_t m_bits = 0;
    int m_count = 0;
};

constexpr int kMaxCodeBits = 15;
constexpr int kFastBits = 10;

// Canonical Huffman decoder: one table lookup for codes up to kFastBits, a canonical walk for the rest.
class Huffman {
public:
    bool build(const std::uint8_t* lengths, int n) {
        m_count.fill(0);
        for (int i = 0; i < n; ++i)
            ++m_count[lengths[i]];
        m_count[0] = 0;
        int left = 1;
        for (int len = 1; len <= kMaxCodeBits; ++len) {
            left = (left << 1) - m_count[len];
            if (left < 0)
                return false; // over-subscribed
        }
        std::array<std::uint16_t, kMaxCodeBits + 2> offset{};
        for (int len = 1; len <= kMaxCodeBits; ++len)
            offset[len + 1] = std::uint16_t(offset[len] + m_count[len]);
        for (int i = 0; i < n; ++i)
            if (lengths[i])
                m_symbols[offset[lengths[i]]++] = std::uint16_t(i);

        m_fast.fill(0);
        int code = 0;
        int index = 0;
        for (int len = 1; len <= kFastBits; ++len) {
            for (int k = 0; k < m_count[len]; ++k, ++code, ++index) {
                int reversed = 0;
                for (int b = 0; b < len; ++b)
                    reversed |= ((code >> b) & 1) << (len - 1 - b);
                const std::uint16_t entry = std::uint16_t((m_symbols[index] << 4) | len);
                for (int i = reversed; i < (1 << kFastBits); i += 1 << len)
                    m_fast[i] = entry;
            }
            code <<= 1;
        }
        return true;
    }

    // Returns the symbol, or -1 for a code that is not in the table. Needs 15 bits available.
    int decode(BitReader& in) const {
        const std::uint16_t entry = m_fast[in.peek(kFastBits)];
        if (entry) {
            in.consume(entry & 15);
            return entry >> 4;
        }
        const std::uint32_t bits = in.peek(kMaxCodeBits);
        int code = 0;
        int first = 0;
        int index = 0;
        for (int len = 1; len <= kMaxCodeBits; ++len) {
            code |= int((bits >> (len - 1)) & 1);
            const int count = m_count[len];
            if (code - first < count) {
                in.consume(len);
                return m_symbols[index + code - first];
            }
            index += count;
            first = (first + count) << 1;
            code <<= 1;
        }
        return -1;
    }

private:
    std::array<std::uint16_t, kMaxCodeBits + 1> m_count{};
    std::array<std::uint16_t, 288> m_symbols{};
    std::array<std::uint16_t, 1 << kFastBits> m_fast{};
};

constexpr std::array<std::uint8_t, 29> kLengthExtraBits = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                                           2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr std::array<std::uint8_t, 30> kDistanceExtraBits = {
    0, 0, 0, 0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6, 6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};

// Skips the compressed data of one block, up to and including its end-of-block code.
bool skipCompressedData(BitReader& reader, const Huffman& literals, const Huffman& distances) {
    BitReader in = reader; // a local copy stays in registers
    for (;;) {
        if (in.overran())
            return false;
        // 56 bits hold three codes of up to 15 bits: runs of literals need fewer refills.
        in.refill();
        int symbol = literals.decode(in);
        if (symbol >= 0 && symbol < 256) {
            symbol = literals.decode(in);
            if (symbol >= 0 && symbol < 256) {
                symbol = literals.decode(in);
                if (symbol >= 0 && symbol < 256)
                    continue;
            }
        }
        if (symbol == 256)
            break;
        if (symbol < 0 || symbol > 285)
            return false;
        in.refill();
        in.consume(kLengthExtraBits[symbol - 257]);
        const int distance = distances.decode(in);
        if (distance < 0 || distance > 29)
            return false;
        in.consume(kDistanceExtraBits[distance]);
    }
    reader = in;
    return true;
}

bool readDynamicTables(BitReader& in, Huffman& literals, Huffman& distances) {
    static constexpr std::array<std::uint8_t, 19> order = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                                           11, 4,  12, 3, 13, 2, 14, 1, 15};
    in.refill();
    const int literalCount = int(in.take(5)) + 257;
    const int distanceCount = int(in.take(5)) + 1;
    const int codeLengthCount = int(in.take(4)) + 4;
    if (literalCount > 286 || distanceCount > 30)
        return false;
    std::array<std::uint8_t, 19> codeLengthLengths{};
    for (int i = 0; i < codeLengthCount; ++i) {
        in.refill();
        codeLengthLengths[order[i]] = std::uint8_t(in.take(3));
    }
    Huffman codeLengths;
    if (!codeLengths.build(codeLengthLengths.data(), 19))
        return false;

    std::array<std::uint8_t, 286 + 30> lengths{};
    const int total = literalCount + distanceCount;
    for (int i = 0; i < total;) {
        in.refill();
        const int symbol = codeLengths.decode(in);
        if (symbol < 0)
            return false;
        if (symbol < 16) {
            lengths[i++] = std::uint8_t(symbol);
            continue;
        }
        int repeat = 0;
        std::uint8_t value = 0;
        if (symbol == 16) {
            if (i == 0)
                return false;
            value = lengths[i - 1];
            repeat = 3 + int(in.take(2));
        } else if (symbol == 17) {
            repeat = 3 + int(in.take(3));
        } else {
            repeat = 11 + int(in.take(7));
        }
        if (i + repeat > total)
            return false;
        while (repeat--)
            lengths[i++] = value;
    }
    if (lengths[256] == 0)
        return false;
    return literals.build(lengths.data(), literalCount) &&
           distances.build(lengths.data() + literalCount, distanceCount) && !in.overran();
}

struct FixedTables {
    Huffman literals;
    Huffman distances;
    FixedTables() {
        std::array<std::uint8_t, 288> lengths{};
        for (int i = 0; i < 288; ++i)
            lengths[i] = i < 144 ? 8 : i < 256 ? 9 : i < 280 ? 7 : 8;
        literals.build(lengths.data(), 288);
        lengths.fill(5);
        distances.build(lengths.data(), 30);
    }
};

} // namespace

std::size_t makeDeflateStreamJoinable(std::uint8_t* stream, std::size_t size, std::size_t capacity) {
    if (!stream || size == 0 || capacity < size + kJoinSlack)
        return 0;
    static const FixedTables fixed;
    Huffman literals;
    Huffman distances;
    BitReader in(stream, size);
    std::size_t finalHeader = 0;
    for (bool final = false; !final;) {
        in.refill();
        finalHeader = in.bitPosition();
        final = in.take(1);
        switch (in.take(2)) {
        case 0: { // stored
            in.seek((in.bitPosition() + 7) & ~std::size_t(7));
            const std::uint32_t length = in.take(16);
            const std::uint32_t complement = in.take(16);
            if ((length ^ 0xffffu) != complement)
                return 0;
            in.seek(in.bitPosition() + std::size_t(length) * 8);
            break;
        }
        case 1:
            if (!skipCompressedData(in, fixed.literals, fixed.distances))
                return 0;
            break;
        case 2:
            if (!readDynamicTables(in, literals, distances) || !skipCompressedData(in, literals, distances))
                return 0;
            break;
        default:
            return 0;
        }
        if (in.overran())
            return 0;
    }
    const std::size_t end = in.bitPosition();
    if ((end + 7) / 8 != size)
        return 0;

    stream[finalHeader / 8] &= std::uint8_t(~(1u << (finalHeader % 8)));
    // An empty stored block: three zero header bits, zero padding to the byte boundary, LEN 0, NLEN ~0.
    const int used = int(end % 8);
    if (used)
        stream[size - 1] &= std::uint8_t((1u << used) - 1);
    if (used == 0 || used > 5)
        stream[size++] = 0;
    const std::uint8_t marker[4] = {0x00, 0x00, 0xff, 0xff};
    std::memcpy(stream + size, marker, 4);
    return size + 4;
}

std::uint32_t combineAdler32(std::uint32_t first, std::uint32_t second, std::size_t secondLength) {
    constexpr std::uint32_t base = 65521;
    const std::uint32_t rem = std::uint32_t(secondLength % base);
    std::uint32_t sum1 = first & 0xffff;
    std::uint32_t sum2 = std::uint32_t((std::uint64_t(rem) * sum1) % base);
    sum1 += (second & 0xffff) + base - 1;
    sum2 += ((first >> 16) & 0xffff) + ((second >> 16) & 0xffff) + base - rem;
    if (sum1 >= base)
        sum1 -= base;
    if (sum1 >= base)
        sum1 -= base;
    if (sum2 >= (base << 1))
        sum2 -= (base << 1);
    if (sum2 >= base)
        sum2 -= base;
    return sum1 | (sum2 << 16);
}

} // namespace glimra::png::detail
