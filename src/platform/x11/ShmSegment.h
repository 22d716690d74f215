#pragma once
// A MIT-SHM segment, attached on both sides of the X connection: the memory grabs are read through, and
// that images of a whole screen live in, so that the X server writes their pixels in place.

#include "pixels/PixelBufferPool.h"

#include <xcb/shm.h>

#include <cstddef>
#include <memory>
#include <thread>

namespace glimra::x11 {

class XcbConnection;

class ShmSegment : public PixelBuffer {
public:
    // A segment of at least that many bytes (whole MiB) whose pages a short-lived thread makes resident
    // on this side. nullptr (with a log line) when the system or the X server refuses shared memory.
    static std::unique_ptr<ShmSegment> create(XcbConnection& connection, std::size_t bytes);
    ~ShmSegment() override;
    ShmSegment(const ShmSegment&) = delete;
    ShmSegment& operator=(const ShmSegment&) = delete;

    // Waits until the segment's pages are resident on this side; call before reading it.
    void settle();

    uchar* data() const override { return address_; }
    std::size_t capacity() const override { return size_; }
    void orphan() override { orphaned_ = true; }
    xcb_shm_seg_t id() const { return seg_; }

private:
    ShmSegment(XcbConnection& connection, xcb_shm_seg_t seg, uchar* address, std::size_t size);

    XcbConnection& x_;
    xcb_shm_seg_t seg_;
    uchar* address_;
    std::size_t size_;
    bool orphaned_ = false;
    std::thread toucher_;
};

} // namespace glimra::x11
