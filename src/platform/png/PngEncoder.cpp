#include "png/PngEncoder.h"

#include <isa-l/crc.h>
#include <isa-l/igzip_lib.h>
#include <zlib.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>
#include <system_error>
#include <thread>

namespace glimra::png {

namespace {

constexpr std::array<std::uint8_t, 8> kSignature = {137, 80, 78, 71, 13, 10, 26, 10};
constexpr std::size_t kChunkOverhead = 12; // length, type, CRC
constexpr std::size_t kIhdrChunkSize = kChunkOverhead + 13;
constexpr std::size_t kIendChunkSize = kChunkOverhead;
constexpr std::size_t kMaxChunkPayload = 0x7fffffff;

enum FilterType : std::uint8_t { kNone = 0, kSub = 1, kUp = 2, kAverage = 3, kPaeth = 4 };

void putBigEndian32(std::uint8_t* p, std::uint32_t v) {
    p[0] = std::uint8_t(v >> 24);
    p[1] = std::uint8_t(v >> 16);
    p[2] = std::uint8_t(v >> 8);
    p[3] = std::uint8_t(v);
}

// Fills in length and CRC around a chunk whose type and payload are already in place at `chunk`.
void sealChunk(std::uint8_t* chunk, const char* type, std::size_t payload) {
    putBigEndian32(chunk, std::uint32_t(payload));
    std::memcpy(chunk + 4, type, 4);
    putBigEndian32(chunk + 8 + payload, crc32_gzip_refl(0, chunk + 4, payload + 4));
}

bool hasTranslucentPixels(const QImage& image) {
    const int width = image.width();
    for (int y = 0; y < image.height(); ++y) {
        const auto* line = reinterpret_cast<const std::uint32_t*>(image.constScanLine(y));
        std::uint32_t all = 0xff000000u;
        for (int x = 0; x < width; ++x)
            all &= line[x];
        if ((all >> 24) != 0xff)
            return true;
    }
    return false;
}

// QImage's 32-bit formats hold 0xAARRGGBB in native order; PNG wants R, G, B[, A] bytes.
template <int Channels> inline void storePixel(std::uint8_t* dst, std::uint32_t p) {
    dst[0] = std::uint8_t(p >> 16);
    dst[1] = std::uint8_t(p >> 8);
    dst[2] = std::uint8_t(p);
    if constexpr (Channels == 4)
        dst[3] = std::uint8_t(p >> 24);
}

template <int Channels> void toRaw(const std::uint32_t* src, std::uint8_t* dst, int width) {
    for (int x = 0; x < width; ++x, dst += Channels)
        storePixel<Channels>(dst, src[x]);
}

// Four byte-wise subtractions at once, without borrows crossing byte lanes.
inline std::uint32_t subtractBytes(std::uint32_t a, std::uint32_t b) {
    constexpr std::uint32_t high = 0x80808080u;
    return ((a | high) - (b & ~high)) ^ ((a ^ ~b) & high);
}

// The Up filter straight from the pixels: the difference of two pixels is the difference of their bytes,
// so converting and filtering fold into one pass that touches each source row twice while it is hot.
template <int Channels>
void upFromPixels(const std::uint32_t* cur, const std::uint32_t* prev, std::uint8_t* dst, int width) {
    if (!prev) {
        toRaw<Channels>(cur, dst, width);
        return;
    }
    for (int x = 0; x < width; ++x, dst += Channels)
        storePixel<Channels>(dst, subtractBytes(cur[x], prev[x]));
}

inline std::uint8_t paethPredictor(int a, int b, int c) {
    const int p = a + b - c;
    const int pa = std::abs(p - a);
    const int pb = std::abs(p - b);
    const int pc = std::abs(p - c);
    if (pa <= pb && pa <= pc)
        return std::uint8_t(a);
    return std::uint8_t(pb <= pc ? b : c);
}

// `prior` is the unfiltered previous row (zeros for the first row); `n` bytes, `bpp` bytes per pixel.
void filterRow(FilterType type, const std::uint8_t* raw, const std::uint8_t* prior, std::uint8_t* out,
               std::size_t n, int bpp) {
    const std::size_t head = std::min<std::size_t>(std::size_t(bpp), n);
    switch (type) {
    case kNone:
        std::memcpy(out, raw, n);
        break;
    case kSub:
        std::memcpy(out, raw, head);
        for (std::size_t i = head; i < n; ++i)
            out[i] = std::uint8_t(raw[i] - raw[i - bpp]);
        break;
    case kUp:
        for (std::size_t i = 0; i < n; ++i)
            out[i] = std::uint8_t(raw[i] - prior[i]);
        break;
    case kAverage:
        for (std::size_t i = 0; i < head; ++i)
            out[i] = std::uint8_t(raw[i] - (prior[i] >> 1));
        for (std::size_t i = head; i < n; ++i)
            out[i] = std::uint8_t(raw[i] - ((raw[i - bpp] + prior[i]) >> 1));
        break;
    case kPaeth:
        for (std::size_t i = 0; i < head; ++i)
            out[i] = std::uint8_t(raw[i] - prior[i]);
        for (std::size_t i = head; i < n; ++i)
            out[i] = std::uint8_t(raw[i] - paethPredictor(raw[i - bpp], prior[i], prior[i - bpp]));
        break;
    }
}

std::uint64_t sumOfMagnitudes(const std::uint8_t* row, std::size_t n) {
    std::uint64_t sum = 0;
    for (std::size_t i = 0; i < n; ++i)
        sum += row[i] < 128 ? row[i] : 256 - row[i];
    return sum;
}

FilterType filterTypeOf(Filter filter) {
    switch (filter) {
    case Filter::None:
        return kNone;
    case Filter::Sub:
        return kSub;
    case Filter::Up:
    case Filter::Adaptive:
        return kUp;
    case Filter::Average:
        return kAverage;
    case Filter::Paeth:
        return kPaeth;
    }
    return kUp;
}

template <int Channels>
void filterRows(const QImage& image, Filter filter, int firstRow, int endRow, std::uint8_t* dst,
                std::vector<std::uint8_t>& rows) {
    const int width = image.width();
    const std::size_t rawBytes = std::size_t(width) * Channels;
    const std::size_t rowBytes = rawBytes + 1;
    auto line = [&](int y) { return reinterpret_cast<const std::uint32_t*>(image.constScanLine(y)); };

    if (filter == Filter::Up) {
        for (int y = firstRow; y < endRow; ++y, dst += rowBytes) {
            dst[0] = kUp;
            upFromPixels<Channels>(line(y), y > 0 ? line(y - 1) : nullptr, dst + 1, width);
        }
        return;
    }

    // Two unfiltered rows (current and prior) plus, for the adaptive choice, one scratch row per filter.
    const bool adaptive = filter == Filter::Adaptive;
    rows.assign(rawBytes * (adaptive ? 7 : 2), 0);
    std::uint8_t* raw = rows.data();
    std::uint8_t* prior = raw + rawBytes;
    if (firstRow > 0)
        toRaw<Channels>(line(firstRow - 1), prior, width);
    for (int y = firstRow; y < endRow; ++y, dst += rowBytes) {
        toRaw<Channels>(line(y), raw, width);
        if (!adaptive) {
            dst[0] = filterTypeOf(filter);
            filterRow(FilterType(dst[0]), raw, prior, dst + 1, rawBytes, Channels);
        } else {
            std::uint8_t* scratch = rows.data() + 2 * rawBytes;
            FilterType best = kNone;
            std::uint64_t bestSum = UINT64_MAX;
            for (FilterType type : {kNone, kSub, kUp, kAverage, kPaeth}) {
                std::uint8_t* candidate = scratch + type * rawBytes;
                filterRow(type, raw, prior, candidate, rawBytes, Channels);
                const std::uint64_t sum = sumOfMagnitudes(candidate, rawBytes);
                if (sum < bestSum) {
                    bestSum = sum;
                    best = type;
                }
            }
            dst[0] = best;
            std::memcpy(dst + 1, scratch + best * rawBytes, rawBytes);
        }
        std::swap(raw, prior);
    }
}

// First row of band k: equal shares of the rows.
int bandBoundary(int k, int bandCount, int height) {
    return k >= bandCount ? height : int(std::int64_t(height) * k / bandCount);
}

// Rows are filtered into a small buffer that the compressor reads while it is still in the cache,
// this many bytes at a time (at least one row).
constexpr std::size_t kBatchBytes = std::size_t(256) << 10;

// Bands per thread of an encoding (each at least minStripBytes of filtered data).
constexpr std::size_t kBandsPerThread = 4;

std::uint32_t levelBufferSize(int level) {
    switch (level) {
    case 1:
        return ISAL_DEF_LVL1_DEFAULT;
    case 2:
        return ISAL_DEF_LVL2_DEFAULT;
    case 3:
        return ISAL_DEF_LVL3_DEFAULT;
    }
    return 0;
}

// The most a band's raw DEFLATE data can take: the compressor falls back to stored blocks (5 bytes
// per 64 KiB) for data it cannot shrink; the rest covers block headers and the flush marker.
std::size_t deflateBound(std::size_t size) {
    return size + size / 8 + 5 * (size / 65535 + 1) + 4 * ISAL_DEF_MAX_HDR_SIZE + 64;
}

} // namespace

// One horizontal band of the image, filtered and compressed on its own into its own slot of the output.
// Every band but the last ends with a sync flush (an empty stored block: byte-aligned, not final), so
// the bands laid end to end make one DEFLATE stream.
struct Band {
    int firstRow = 0;
    int endRow = 0;
    std::uint8_t* out = nullptr;
    std::size_t outCapacity = 0;
    std::size_t outSize = 0; // 0 until compressed
    std::uint32_t adler = 1;
};

// A compressor and its row scratch, kept warm between calls; one per thread of an encoding.
struct PngEncoder::Compressor {
    std::unique_ptr<isal_zstream> stream;
    std::unique_ptr<std::uint8_t[]> levelBuffer;
    std::uint32_t levelBufferBytes = 0;
    std::vector<std::uint8_t> batch; // filtered rows on their way to the compressor
    std::vector<std::uint8_t> rows;  // unfiltered rows for the filters that need them

    bool prepare(int level, std::size_t batchBytes) {
        try {
            if (!stream)
                stream = std::make_unique<isal_zstream>();
            const std::uint32_t wanted = levelBufferSize(level);
            if (levelBufferBytes != wanted) {
                levelBuffer.reset(wanted ? new std::uint8_t[wanted] : nullptr);
                levelBufferBytes = wanted;
            }
            if (batch.size() < batchBytes)
                batch.resize(batchBytes);
        } catch (const std::bad_alloc&) {
            return false;
        }
        return true;
    }

    // Filters and compresses the band's rows into its slot; sets its outSize (0 on failure) and adler.
    void run(Band& band, const QImage& image, bool translucent, Filter filter, int level, int windowBits,
             bool last) {
        band.outSize = 0;
        const std::size_t rowBytes = std::size_t(image.width()) * (translucent ? 4 : 3) + 1;
        const int batchRows = int(std::max<std::size_t>(1, batch.size() / rowBytes));
        isal_zstream& s = *stream;
        isal_deflate_init(&s);
        s.level = std::uint32_t(level);
        s.level_buf = levelBuffer.get();
        s.level_buf_size = levelBufferBytes;
        s.gzip_flag = IGZIP_DEFLATE;
        s.hist_bits = std::uint16_t(windowBits);
        s.next_out = band.out;
        s.avail_out = std::uint32_t(std::min<std::size_t>(band.outCapacity, UINT32_MAX));
        std::uint32_t adler = 1;
        for (int y = band.firstRow; y < band.endRow; y += batchRows) {
            const int end = std::min(band.endRow, y + batchRows);
            if (translucent)
                filterRows<4>(image, filter, y, end, batch.data(), rows);
            else
                filterRows<3>(image, filter, y, end, batch.data(), rows);
            const std::size_t bytes = std::size_t(end - y) * rowBytes;
            adler = isal_adler32(adler, batch.data(), bytes);
            s.next_in = batch.data();
            s.avail_in = std::uint32_t(bytes);
            s.end_of_stream = last && end == band.endRow;
            s.flush = !last && end == band.endRow ? SYNC_FLUSH : NO_FLUSH;
            if (isal_deflate(&s) != COMP_OK || s.avail_in != 0)
                return; // the output slot is full: cannot happen within deflateBound
        }
        // Done when everything, the flush or the final block included, has been written.
        const bool done =
            last ? s.internal_state.state == ZSTATE_END : s.internal_state.state == ZSTATE_NEW_HDR;
        if (done) {
            band.outSize = s.total_out;
            band.adler = adler;
        }
    }
};

PngEncoder::PngEncoder(EncoderOptions options) : m_options(options) {
    m_options.compressionLevel =
        std::clamp(m_options.compressionLevel, ISAL_DEF_MIN_LEVEL, ISAL_DEF_MAX_LEVEL);
    m_options.windowBits = std::clamp(m_options.windowBits, 8, ISAL_DEF_MAX_HIST_BITS);
    m_options.maxChunkBytes = std::clamp<std::size_t>(m_options.maxChunkBytes, 1, kMaxChunkPayload);
    m_options.minStripBytes = std::max<std::size_t>(m_options.minStripBytes, 1);
}

PngEncoder::~PngEncoder() = default;
PngEncoder::PngEncoder(PngEncoder&&) noexcept = default;
PngEncoder& PngEncoder::operator=(PngEncoder&&) noexcept = default;

void PngEncoder::releaseBuffers() {
    m_compressors.clear();
    m_compressors.shrink_to_fit();
    m_output = QByteArray();
}

int PngEncoder::threadCountFor(std::size_t filteredSize, int height) const {
    int threads = m_options.threads;
    if (threads <= 0)
        threads = std::clamp(int(std::thread::hardware_concurrency()), 1, 8);
    const std::size_t bySize = std::max<std::size_t>(1, filteredSize / m_options.minStripBytes);
    return int(std::min<std::size_t>({std::size_t(threads), bySize, std::size_t(height)}));
}

bool PngEncoder::encode(const QImage& image, QByteArray& out) {
    // Dropping the caller's previous result first lets the output buffer be reused below.
    out = QByteArray();
    if (image.isNull() || image.width() <= 0 || image.height() <= 0)
        return false;

    QImage converted;
    const QImage* source = &image;
    bool translucent = false;
    switch (image.format()) {
    case QImage::Format_RGB32:
        break;
    case QImage::Format_ARGB32:
        translucent = hasTranslucentPixels(image);
        break;
    case QImage::Format_ARGB32_Premultiplied:
        // Fully opaque premultiplied pixels are already the straight colours.
        translucent = hasTranslucentPixels(image);
        if (translucent)
            converted = image.convertToFormat(QImage::Format_ARGB32);
        break;
    default:
        converted =
            image.convertToFormat(image.hasAlphaChannel() ? QImage::Format_ARGB32 : QImage::Format_RGB32);
        translucent = !converted.isNull() && converted.hasAlphaChannel() && hasTranslucentPixels(converted);
        break;
    }
    if (!converted.isNull())
        source = &converted;
    else if (source->format() != QImage::Format_RGB32 && source->format() != QImage::Format_ARGB32 &&
             source->format() != QImage::Format_ARGB32_Premultiplied)
        return false;

    const int channels = translucent ? 4 : 3;
    const int width = source->width();
    const int height = source->height();
    const std::size_t rowBytes = std::size_t(width) * channels + 1;
    const std::size_t filteredSize = rowBytes * std::size_t(height);

    // Threads take bands one after the other: a screen's costly parts (photos, text) gather in some rows,
    // and bands of equal height would leave one thread working while the other waits.
    const int threadCount = threadCountFor(filteredSize, height);
    const int bandCount =
        threadCount == 1
            ? 1
            : int(std::min<std::size_t>({std::size_t(threadCount) * kBandsPerThread,
                                         std::max<std::size_t>(1, filteredSize / m_options.minStripBytes),
                                         std::size_t(height)}));
    if (m_compressors.size() < std::size_t(threadCount))
        m_compressors.resize(std::size_t(threadCount));
    const std::size_t batchBytes = std::max(kBatchBytes, rowBytes);
    for (int k = 0; k < threadCount; ++k)
        if (!m_compressors[std::size_t(k)].prepare(m_options.compressionLevel, batchBytes))
            return false;

    // Output layout: signature, IHDR, the first IDAT header, then the zlib stream (bands compressed into
    // slots of their worst-case size, compacted afterwards), Adler-32, room to split IDAT, IEND. Only the
    // pages the compressed data reaches are ever touched.
    std::vector<Band> bands(static_cast<std::size_t>(bandCount));
    const std::size_t dataOffset = kSignature.size() + kIhdrChunkSize + 8;
    std::size_t streamCapacity = 2 + 4;
    for (int k = 0; k < bandCount; ++k) {
        Band& band = bands[std::size_t(k)];
        band.firstRow = bandBoundary(k, bandCount, height);
        band.endRow = bandBoundary(k + 1, bandCount, height);
        band.outCapacity = deflateBound(std::size_t(band.endRow - band.firstRow) * rowBytes);
        streamCapacity += band.outCapacity;
    }
    const std::size_t maxChunk = m_options.maxChunkBytes;
    const std::size_t maxChunks = streamCapacity / maxChunk + 1;
    const std::size_t capacity =
        dataOffset + streamCapacity + 4 + (maxChunks - 1) * kChunkOverhead + kIendChunkSize;
    if (capacity > std::size_t(std::numeric_limits<qsizetype>::max()))
        return false;
    try {
        if (!m_output.isDetached() || m_output.capacity() < qsizetype(capacity))
            m_output = QByteArray(qsizetype(capacity), Qt::Uninitialized);
        else
            m_output.resize(qsizetype(capacity));
    } catch (const std::bad_alloc&) {
        m_output = QByteArray();
        return false;
    }
    auto* base = reinterpret_cast<std::uint8_t*>(m_output.data());
    std::uint8_t* const stream = base + dataOffset;

    std::uint8_t* slot = stream + 2;
    for (Band& band : bands) {
        band.out = slot;
        slot += band.outCapacity;
    }
    const Filter filter = m_options.filter;
    const int level = m_options.compressionLevel;
    const int windowBits = m_options.windowBits;
    std::atomic<int> next{0};
    auto work = [&](Compressor& compressor) {
        for (int k = next++; k < bandCount; k = next++)
            compressor.run(bands[std::size_t(k)], *source, translucent, filter, level, windowBits,
                           k == bandCount - 1);
    };
    std::vector<std::thread> workers;
    workers.reserve(std::size_t(threadCount - 1));
    for (int k = 0; k < threadCount - 1; ++k) {
        try {
            workers.emplace_back(work, std::ref(m_compressors[std::size_t(k)]));
        } catch (const std::system_error&) {
            break; // the threads there are take the bands
        }
    }
    work(m_compressors[std::size_t(threadCount - 1)]);
    for (std::thread& worker : workers)
        worker.join();

    stream[0] = 0x78; // deflate, 32 KiB window
    stream[1] = 0x01; // fastest; header check bits make 0x7801 a multiple of 31
    std::size_t at = 2;
    uLong adler = 1;
    for (const Band& band : bands) {
        if (band.outSize == 0) {
            m_output = QByteArray();
            return false;
        }
        std::memmove(stream + at, band.out, band.outSize);
        at += band.outSize;
        adler =
            adler32_combine(adler, band.adler, z_off_t(std::size_t(band.endRow - band.firstRow) * rowBytes));
    }
    putBigEndian32(stream + at, std::uint32_t(adler));
    const std::size_t compressed = at + 4;

    std::memcpy(base, kSignature.data(), kSignature.size());
    std::uint8_t* ihdr = base + kSignature.size();
    putBigEndian32(ihdr + 8, std::uint32_t(width));
    putBigEndian32(ihdr + 12, std::uint32_t(height));
    ihdr[16] = 8;                       // bit depth
    ihdr[17] = translucent ? 6 : 2;     // colour type: RGBA or RGB
    ihdr[18] = ihdr[19] = ihdr[20] = 0; // deflate, adaptive filtering, no interlace
    sealChunk(ihdr, "IHDR", 13);

    // The zlib stream is in one piece; spread it over IDAT chunks from the back so that nothing is
    // overwritten before it has moved.
    const std::size_t chunks = (compressed + maxChunk - 1) / maxChunk;
    std::uint8_t* idat = stream - 8;
    for (std::size_t i = chunks; i-- > 1;) {
        const std::size_t payload = std::min(maxChunk, compressed - i * maxChunk);
        std::memmove(idat + i * (maxChunk + kChunkOverhead) + 8, stream + i * maxChunk, payload);
    }
    for (std::size_t i = 0; i < chunks; ++i) {
        const std::size_t payload = std::min(maxChunk, compressed - i * maxChunk);
        sealChunk(idat + i * (maxChunk + kChunkOverhead), "IDAT", payload);
    }
    std::uint8_t* iend = idat + (chunks - 1) * (maxChunk + kChunkOverhead) + kChunkOverhead +
                         (compressed - (chunks - 1) * maxChunk);
    sealChunk(iend, "IEND", 0);

    m_output.resize(qsizetype(iend + kIendChunkSize - base));
    out = m_output;
    return true;
}

QByteArray encodePng(const QImage& image) {
    PngEncoder encoder;
    QByteArray out;
    encoder.encode(image, out);
    return out;
}

} // namespace glimra::png
