#pragma once
// Warm pixel buffers for grabbed images. The first write to freshly mapped memory costs a page fault
// per 4 KiB (about 100 ms for a 4K image); a buffer that has been used once costs nothing more. An
// image handed out owns its buffer until its last copy is gone, then the buffer comes back here, so
// a kept image is never overwritten by a later grab. Images may die on any thread.

#include <QImage>

#include <cstddef>
#include <functional>
#include <memory>

namespace glimra {

// Memory an image can live in: anonymous memory, or memory shared with the display server, which writes
// the pixels into it.
class PixelBuffer {
public:
    virtual ~PixelBuffer() = default;
    virtual uchar* data() const = 0;
    virtual std::size_t capacity() const = 0;
    // The pool is gone, and maybe whatever its owner held: let go of the memory without calling on
    // anything else (memory shared with the display server leaves its server side to the connection's end).
    virtual void orphan() {}
};

class PixelBufferPool {
public:
    // Makes a buffer of at least that many bytes with its pages resident; nullptr when it cannot.
    using Factory = std::function<std::unique_ptr<PixelBuffer>(std::size_t bytes)>;

    // Anonymous memory, on transparent huge pages where the kernel gives them. Keeps at most maxIdle
    // unused buffers; more are let go when they come back.
    explicit PixelBufferPool(int maxIdle = 2);
    PixelBufferPool(int maxIdle, Factory factory);
    ~PixelBufferPool();
    PixelBufferPool(const PixelBufferPool&) = delete;
    PixelBufferPool& operator=(const PixelBufferPool&) = delete;

    // An RGB32 image of that size on a pooled buffer, idle or new (contents undefined); null when memory
    // is short. The image stays valid after the pool is destroyed.
    QImage createImage(const QSize& size);

    // The smallest idle buffer of at least that many bytes, for the caller to fill and then hand out
    // with adopt() or give back; nullptr when none is idle.
    std::unique_ptr<PixelBuffer> takeIdle(std::size_t bytes);
    // An RGB32 image of that size in the buffer, which comes back here when the image dies.
    QImage adopt(std::unique_ptr<PixelBuffer> buffer, const QSize& size);
    void give(std::unique_ptr<PixelBuffer> buffer);

    // Makes sure a buffer of at least that many bytes is idle, so the next grab finds it warm.
    void prepare(std::size_t bytes);
    // Lets go of every idle buffer; images handed out keep theirs.
    void release();

    int idleCount() const;

    struct State;

private:
    std::shared_ptr<State> state_;
    Factory factory_;
};

// Makes a fresh mapping's pages resident in one go (shared memory segments use it too).
void prefault(void* address, std::size_t bytes);

// Copies a row of 32-bit pixels whose top byte is undefined (X11 and Wayland's XRGB8888 pad 24 colour
// bits so) with that byte set to 0xff, as Format_RGB32 wants it. `src` may be `dst`.
void copyOpaque(const uchar* src, uchar* dst, int width);

} // namespace glimra
