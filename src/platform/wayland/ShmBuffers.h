#pragma once
// Memory the compositor copies outputs into: memfd mappings offered as wl_shm pools, kept warm between
// copies. An output copied upright into a buffer without padding becomes its image in place; otherwise
// its rows are copied (and turned) into a warm anonymous buffer. Either way the image owns its memory
// until its last copy dies, on any thread, so a later copy never writes into a kept image.

#include "pixels/PixelBufferPool.h"
#include "wayland/WaylandConnection.h"

#include <QImage>
#include <QSize>

#include <cstdint>
#include <memory>
#include <vector>

struct wl_buffer;
struct wl_shm;

namespace glimra::wayland {

// What the compositor wrote into a buffer.
struct FrameLayout {
    uint32_t format = 0; // a wl_shm format; only XRGB8888 and ARGB8888 are read
    QSize size;          // in the output's own orientation
    int stride = 0;
    bool yInvert = false; // rows bottom to top
    int transform = 0;    // the output's wl_output_transform, undone here
};

// The bytes a copy of each output takes, for warming buffers up.
std::vector<std::size_t> copyBytes(const std::vector<OutputInfo>& outputs);

// Whether buffers of that wl_shm format can be read (the pixel's top byte is ignored).
bool readableFormat(uint32_t format);

// The image a frame shows upright: rows flipped when yInvert, the output's transform undone. `frame`
// must be opaque RGB32 in the output's own orientation.
QImage uprightImage(const QImage& frame, bool yInvert, int transform);

class ShmBuffers {
public:
    explicit ShmBuffers(wl_shm* shm);
    ~ShmBuffers();
    ShmBuffers(const ShmBuffers&) = delete;
    ShmBuffers& operator=(const ShmBuffers&) = delete;

    class Buffer;
    // A buffer of at least that many bytes, warm when one is idle; nullptr (with a log line) when
    // memory is short.
    std::unique_ptr<PixelBuffer> take(std::size_t bytes);
    // The wl_buffer that shows `buffer` (from take()) with that layout, made on first use.
    wl_buffer* wlBuffer(PixelBuffer& buffer, const FrameLayout& layout);
    // The finished copy as an upright opaque image; the buffer goes back to the pool, or lives on in
    // the image. Null (with a log line) when memory is short.
    QImage finish(std::unique_ptr<PixelBuffer> buffer, const FrameLayout& layout);

    // Readies one buffer for each size at once (a copy of several outputs takes them together).
    void warmUp(const std::vector<std::size_t>& sizes);
    void release();
    // Destroys the protocol objects of buffers whose last image died on another thread; call on the
    // connection's thread before using it.
    void collect();

    struct Graveyard;

private:
    wl_shm* shm_;
    std::shared_ptr<Graveyard> graveyard_;
    PixelBufferPool shared_;    // Buffers only
    PixelBufferPool anonymous_; // images whose rows were copied
};

} // namespace glimra::wayland
