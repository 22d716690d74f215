#include "PixelBufferPool.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <vector>

namespace glimra::x11 {

namespace {

std::size_t pageSize() {
    static const std::size_t size = std::size_t(sysconf(_SC_PAGESIZE));
    return size;
}

constexpr std::size_t kHugePage = std::size_t(2) << 20;

} // namespace

// Makes the pages of [address, address + bytes) resident and writable now. On these virtual machines
// a fault costs about 10 us per 4 KiB page; huge pages where the kernel gives them cut the faults
// 512-fold, and one populate call replaces thousands of faults during the first copy.
void prefault(void* address, std::size_t bytes) {
    if (madvise(address, bytes, MADV_POPULATE_WRITE) == 0)
        return;
    auto* p = static_cast<volatile uchar*>(address); // kernels before 5.14: touch each page
    for (std::size_t i = 0; i < bytes; i += pageSize())
        p[i] = 0;
}

namespace {

// An anonymous mapping aligned to 2 MiB, so that it can be backed by transparent huge pages.
class Buffer {
public:
    Buffer() = default;
    explicit Buffer(std::size_t bytes) {
        const std::size_t rounded = (bytes + kHugePage - 1) / kHugePage * kHugePage;
        void* p =
            mmap(nullptr, rounded + kHugePage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (p == MAP_FAILED)
            return;
        auto* start = static_cast<uchar*>(p);
        auto* aligned = reinterpret_cast<uchar*>((reinterpret_cast<uintptr_t>(start) + kHugePage - 1) &
                                                 ~uintptr_t(kHugePage - 1));
        // Give back the slack in front of and behind the aligned part.
        if (aligned > start)
            munmap(start, std::size_t(aligned - start));
        if (std::size_t tail = kHugePage - std::size_t(aligned - start); tail > 0)
            munmap(aligned + rounded, tail);
        madvise(aligned, rounded, MADV_HUGEPAGE);
        prefault(aligned, rounded);
        data_ = aligned;
        capacity_ = rounded;
    }
    Buffer(Buffer&& o) noexcept
        : data_(std::exchange(o.data_, nullptr)), capacity_(std::exchange(o.capacity_, 0)) {}
    Buffer& operator=(Buffer&& o) noexcept {
        if (this != &o) {
            release();
            data_ = std::exchange(o.data_, nullptr);
            capacity_ = std::exchange(o.capacity_, 0);
        }
        return *this;
    }
    ~Buffer() { release(); }

    uchar* data() const { return data_; }
    std::size_t capacity() const { return capacity_; }
    explicit operator bool() const { return data_ != nullptr; }

private:
    void release() {
        if (data_)
            munmap(data_, capacity_);
        data_ = nullptr;
        capacity_ = 0;
    }
    uchar* data_ = nullptr;
    std::size_t capacity_ = 0;
};

} // namespace

struct PixelBufferPool::State {
    std::mutex mutex;
    std::vector<Buffer> idle;
    int maxIdle;
    bool open = true;

    explicit State(int max) : maxIdle(max) {}

    Buffer take(std::size_t bytes) {
        std::lock_guard lock(mutex);
        // The smallest idle buffer that fits; a too-small one is dropped instead of kept around, since
        // the desktop's sizes rarely shrink.
        auto best = idle.end();
        for (auto it = idle.begin(); it != idle.end(); ++it)
            if (it->capacity() >= bytes && (best == idle.end() || it->capacity() < best->capacity()))
                best = it;
        if (best == idle.end()) {
            if (!idle.empty() && int(idle.size()) >= maxIdle) {
                auto smallest =
                    std::min_element(idle.begin(), idle.end(), [](const Buffer& a, const Buffer& b) {
                        return a.capacity() < b.capacity();
                    });
                idle.erase(smallest);
            }
            return Buffer();
        }
        Buffer b = std::move(*best);
        idle.erase(best);
        return b;
    }

    void give(Buffer b) {
        std::lock_guard lock(mutex);
        if (open && int(idle.size()) < maxIdle)
            idle.push_back(std::move(b));
        // otherwise b unmaps its memory as it goes
    }
};

namespace {

// What a handed-out image carries to its cleanup: its buffer and the way home.
struct Lease {
    Buffer buffer;
    std::weak_ptr<PixelBufferPool::State> pool;
};

void returnLease(void* info) {
    std::unique_ptr<Lease> lease(static_cast<Lease*>(info));
    if (auto pool = lease->pool.lock())
        pool->give(std::move(lease->buffer));
}

} // namespace

PixelBufferPool::PixelBufferPool(int maxIdle) : state_(std::make_shared<State>(std::max(0, maxIdle))) {}

PixelBufferPool::~PixelBufferPool() {
    std::lock_guard lock(state_->mutex);
    state_->open = false;
    state_->idle.clear();
}

QImage PixelBufferPool::createImage(const QSize& size) {
    if (size.isEmpty())
        return QImage();
    const qsizetype stride = qsizetype(size.width()) * 4;
    const std::size_t bytes = std::size_t(stride) * std::size_t(size.height());
    Buffer buffer = state_->take(bytes);
    if (!buffer)
        buffer = Buffer(bytes);
    if (!buffer)
        return QImage();
    uchar* data = buffer.data();
    auto lease = std::make_unique<Lease>(Lease{std::move(buffer), state_});
    // From here the image owns the lease; returnLease gives the buffer back when the image dies.
    QImage image(data, size.width(), size.height(), stride, QImage::Format_RGB32, returnLease, lease.get());
    if (image.isNull())
        return QImage(); // the lease dies with this scope, unmapping the buffer
    lease.release();
    return image;
}

void PixelBufferPool::prepare(std::size_t bytes) {
    Buffer buffer = state_->take(bytes);
    if (!buffer)
        buffer = Buffer(bytes);
    if (buffer)
        state_->give(std::move(buffer));
}

int PixelBufferPool::idleCount() const {
    std::lock_guard lock(state_->mutex);
    return int(state_->idle.size());
}

} // namespace glimra::x11
