#pragma once

#include <QByteArray>
#include <QImage>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace glimra::png {

// Row filter written in front of every scanline. Adaptive picks, per row, the filter whose output has
// the smallest sum of absolute byte values (the usual PNG heuristic).
enum class Filter { None, Sub, Up, Average, Paeth, Adaptive };

struct EncoderOptions {
    // ISA-L (igzip) level, 0..3. Level 1 with the Up filter is the measured sweet spot for screen images
    // (bench/png_bench.cpp): level 0 is barely faster and half as large again, 2 and 3 are slower and
    // no smaller.
    int compressionLevel = 1;
    Filter filter = Filter::Up;
    // How far back matches may reach, as a power of two (8..15). After the Up filter the matches that
    // pay lie within a few rows' bytes: a 4 KiB window made real desktops' PNGs about 3% smaller and
    // their compression up to a third faster than the format's 32 KiB.
    int windowBits = 12;
    // Largest IDAT payload; the PNG format caps a chunk at 2^31 - 1 bytes.
    std::size_t maxChunkBytes = std::size_t(1) << 30;
    // Threads that filter and compress horizontal bands of the image, each band at least minStripBytes
    // of filtered data: 0 means one per processor (at most 8); 1 keeps everything on the calling thread.
    int threads = 0;
    std::size_t minStripBytes = std::size_t(1) << 20;
};

// Encodes screen images to PNG as fast as the format allows. Opaque images become 8-bit RGB (colour
// type 2), images with translucent pixels 8-bit RGBA (colour type 6).
//
// Rows are filtered in small batches that the compressor reads while they are in the cache, so the
// scratch memory is about 1 MiB per thread whatever the image size. One encoder keeps that and its output
// buffer between calls: keep an encoder for the life of whatever encodes repeatedly, and release its
// buffers when it will be idle for long. Not thread-safe; use one encoder per thread.
class PngEncoder {
public:
    explicit PngEncoder(EncoderOptions options = {});
    ~PngEncoder();
    PngEncoder(PngEncoder&&) noexcept;
    PngEncoder& operator=(PngEncoder&&) noexcept;
    PngEncoder(const PngEncoder&) = delete;
    PngEncoder& operator=(const PngEncoder&) = delete;

    // Replaces `out` with the complete PNG file. Returns false, and leaves `out` empty, for a null image
    // or when compression fails. `out` shares the encoder's output buffer: read it with constData() (a
    // non-const data() would copy it); once every copy of it is gone the next call reuses the buffer.
    bool encode(const QImage& image, QByteArray& out);

    // Frees the scratch buffers; the next call allocates them again.
    void releaseBuffers();

    const EncoderOptions& options() const { return m_options; }

private:
    struct Compressor;

    int threadCountFor(std::size_t filteredSize, int height) const;

    EncoderOptions m_options;
    std::vector<Compressor> m_compressors; // one per thread, with its row scratch, kept warm
    QByteArray m_output;
};

// One-off encoding with a fresh encoder (cold buffers). Returns an empty array on failure.
QByteArray encodePng(const QImage& image);

} // namespace glimra::png
