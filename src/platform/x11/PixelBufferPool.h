#pragma once
// Warm pixel buffers for grabbed images. The first write to freshly mapped memory costs a page fault
// per 4 KiB (about 100 ms for a 4K image); a buffer that has been used once costs nothing more. An
// image handed out owns its buffer until its last copy is gone, then the buffer comes back here, so
// a kept image is never overwritten by a later grab. Images may die on any thread.

#include <QImage>

#include <cstddef>
#include <memory>

namespace glimra::x11 {

class PixelBufferPool {
public:
    // Keeps at most maxIdle unused buffers; more are unmapped when they come back.
    explicit PixelBufferPool(int maxIdle = 2);
    ~PixelBufferPool();
    PixelBufferPool(const PixelBufferPool&) = delete;
    PixelBufferPool& operator=(const PixelBufferPool&) = delete;

    // An RGB32 image of that size on a pooled buffer (contents undefined); null when memory is short.
    // The image stays valid after the pool is destroyed.
    QImage createImage(const QSize& size);

    // Maps and touches a buffer of at least that many bytes now, so the next grab finds it warm.
    void prepare(std::size_t bytes);

    int idleCount() const;

    struct State;

private:
    std::shared_ptr<State> state_;
};

// Makes a fresh mapping's pages resident in one go (shared memory segments use it too).
void prefault(void* address, std::size_t bytes);

} // namespace glimra::x11
