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
    // libdeflate level (1..12). Level 1 with the Up filter is the measured sweet spot for screen images.
    int compressionLevel = 1;
    Filter filter = Filter::Up;
    // Largest IDAT payload; the PNG format caps a chunk at 2^31 - 1 bytes.
    std::size_t maxChunkBytes = std::size_t(1) << 30;
    // Horizontal strips filtered and compressed in parallel, each at least minStripBytes of filtered
    // data. 0 means one per processor (at most 8); 1 keeps everything on the calling thread.
    int threads = 0;
    std::size_t minStripBytes = std::size_t(1) << 20;
};

// Encodes screen images to PNG as fast as the format allows. Opaque images become 8-bit RGB (colour
// type 2), images with translucent pixels 8-bit RGBA (colour type 6).
//
// One encoder keeps its scratch buffers between calls: touching freshly allocated memory costs more than
// the encoding of a 4K frame's filter pass, so keep an encoder for the life of whatever encodes
// repeatedly. Not thread-safe; use one encoder per thread.
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
    struct Strip;

    bool prepareFiltered(std::size_t size);
    int stripCountFor(std::size_t filteredSize, int height) const;

    EncoderOptions m_options;
    std::vector<Strip> m_strips; // per-strip compressor and row scratch, kept warm
    std::unique_ptr<std::uint8_t[]> m_filtered;
    std::size_t m_filteredCapacity = 0;
    QByteArray m_output;
};

// One-off encoding with a fresh encoder (cold buffers). Returns an empty array on failure.
QByteArray encodePng(const QImage& image);

} // namespace glimra::png
