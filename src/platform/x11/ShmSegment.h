#pragma once
// The MIT-SHM segment grabs are read through, attached on both sides of the X connection and grown
// on demand (in whole MiB).

#include <xcb/shm.h>

#include <cstddef>
#include <thread>

namespace glimra::x11 {

class XcbConnection;

class ShmSegment {
public:
    explicit ShmSegment(XcbConnection& connection);
    ~ShmSegment();
    ShmSegment(const ShmSegment&) = delete;
    ShmSegment& operator=(const ShmSegment&) = delete;

    // Makes the segment hold at least that many bytes, replacing a smaller one. False (with a log line)
    // when the system or the X server refuses shared memory: the caller falls back to plain reads.
    bool ensure(std::size_t bytes);
    // Waits until the new segment's pages are resident on this side; call before reading it.
    void settle();
    void release();

    xcb_shm_seg_t id() const { return seg_; }
    const void* address() const { return address_; }
    std::size_t size() const { return size_; }

private:
    XcbConnection& x_;
    xcb_shm_seg_t seg_ = 0;
    void* address_ = nullptr;
    std::size_t size_ = 0;
    // Makes a new segment's pages resident on this side; see ensure.
    std::thread toucher_;
};

} // namespace glimra::x11
