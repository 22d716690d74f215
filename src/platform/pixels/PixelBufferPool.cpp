#include "PixelBufferPool.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#include <mutex>
#include <vector>

namespace glimra {

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

// Every grabbed pixel passes here: -O2 leaves the plain loop scalar, four pixels a step make it as fast
// as the memory (about 3 ms less for a 4K screen).
void copyOpaque(const uchar* src, uchar* dst, int width) {
    const auto* s = reinterpret_cast<const quint32*>(src);
    auto* d = reinterpret_cast<quint32*>(dst);
    int i = 0;
#if defined(__SSE2__)
    const __m128i alpha = _mm_set1_epi32(int(0xff000000u));
    for (; i + 4 <= width; i += 4)
        _mm_storeu_si128(reinterpret_cast<__m128i*>(d + i),
                         _mm_or_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i)), alpha));
#endif
    for (; i < width; ++i)
        d[i] = s[i] | 0xff000000u;
}

namespace {

// An anonymous mapping aligned to 2 MiB, so that it can be backed by transparent huge pages.
class AnonymousBuffer : public PixelBuffer {
public:
    static std::unique_ptr<PixelBuffer> create(std::size_t bytes) {
        const std::size_t rounded = (bytes + kHugePage - 1) / kHugePage * kHugePage;
        void* p =
            mmap(nullptr, rounded + kHugePage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (p == MAP_FAILED)
            return nullptr;
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
        return std::unique_ptr<PixelBuffer>(new AnonymousBuffer(aligned, rounded));
    }
    ~AnonymousBuffer() override { munmap(data_, capacity_); }
    AnonymousBuffer(const AnonymousBuffer&) = delete;
    AnonymousBuffer& operator=(const AnonymousBuffer&) = delete;

    uchar* data() const override { return data_; }
    std::size_t capacity() const override { return capacity_; }

private:
    AnonymousBuffer(uchar* data, std::size_t capacity) : data_(data), capacity_(capacity) {}
    uchar* data_;
    std::size_t capacity_;
};

} // namespace

struct PixelBufferPool::State {
    std::mutex mutex;
    std::vector<std::unique_ptr<PixelBuffer>> idle;
    int maxIdle;
    bool open = true;

    explicit State(int max) : maxIdle(max) {}

    std::unique_ptr<PixelBuffer> take(std::size_t bytes) {
        std::unique_ptr<PixelBuffer> dropped; // let go outside the lock
        std::lock_guard lock(mutex);
        // The smallest idle buffer that fits; a too-small one is dropped instead of kept around, since
        // the desktop's sizes rarely shrink.
        auto best = idle.end();
        for (auto it = idle.begin(); it != idle.end(); ++it)
            if ((*it)->capacity() >= bytes && (best == idle.end() || (*it)->capacity() < (*best)->capacity()))
                best = it;
        if (best == idle.end()) {
            if (!idle.empty() && int(idle.size()) >= maxIdle) {
                auto smallest = std::min_element(idle.begin(), idle.end(), [](const auto& a, const auto& b) {
                    return a->capacity() < b->capacity();
                });
                dropped = std::move(*smallest);
                idle.erase(smallest);
            }
            return nullptr;
        }
        std::unique_ptr<PixelBuffer> b = std::move(*best);
        idle.erase(best);
        return b;
    }

    void give(std::unique_ptr<PixelBuffer> b) {
        {
            std::lock_guard lock(mutex);
            if (open && int(idle.size()) < maxIdle) {
                idle.push_back(std::move(b));
                return;
            }
            if (!open)
                b->orphan();
        }
        // b lets go of its memory as it goes
    }
};

namespace {

// What a handed-out image carries to its cleanup: its buffer and the way home.
struct Lease {
    std::unique_ptr<PixelBuffer> buffer;
    std::weak_ptr<PixelBufferPool::State> pool;
};

void returnLease(void* info) {
    std::unique_ptr<Lease> lease(static_cast<Lease*>(info));
    if (auto pool = lease->pool.lock())
        pool->give(std::move(lease->buffer));
    else
        lease->buffer->orphan();
}

} // namespace

PixelBufferPool::PixelBufferPool(int maxIdle) : PixelBufferPool(maxIdle, &AnonymousBuffer::create) {}

PixelBufferPool::PixelBufferPool(int maxIdle, Factory factory)
    : state_(std::make_shared<State>(std::max(0, maxIdle))), factory_(std::move(factory)) {}

PixelBufferPool::~PixelBufferPool() {
    std::vector<std::unique_ptr<PixelBuffer>> idle;
    {
        std::lock_guard lock(state_->mutex);
        state_->open = false;
        idle.swap(state_->idle);
    }
    // Still the owner's thread, with the owner's resources alive: idle buffers let go of everything.
}

std::unique_ptr<PixelBuffer> PixelBufferPool::takeIdle(std::size_t bytes) {
    return state_->take(bytes);
}

void PixelBufferPool::give(std::unique_ptr<PixelBuffer> buffer) {
    if (buffer)
        state_->give(std::move(buffer));
}

QImage PixelBufferPool::adopt(std::unique_ptr<PixelBuffer> buffer, const QSize& size) {
    const qsizetype stride = qsizetype(size.width()) * 4;
    if (!buffer || size.isEmpty() || buffer->capacity() < std::size_t(stride) * std::size_t(size.height())) {
        give(std::move(buffer));
        return QImage();
    }
    uchar* data = buffer->data();
    auto lease = std::make_unique<Lease>(Lease{std::move(buffer), state_});
    // From here the image owns the lease; returnLease gives the buffer back when the image dies.
    QImage image(data, size.width(), size.height(), stride, QImage::Format_RGB32, returnLease, lease.get());
    if (image.isNull()) {
        give(std::move(lease->buffer));
        return QImage();
    }
    lease.release();
    return image;
}

QImage PixelBufferPool::createImage(const QSize& size) {
    if (size.isEmpty())
        return QImage();
    const std::size_t bytes = std::size_t(size.width()) * 4 * std::size_t(size.height());
    std::unique_ptr<PixelBuffer> buffer = state_->take(bytes);
    if (!buffer)
        buffer = factory_(bytes);
    return buffer ? adopt(std::move(buffer), size) : QImage();
}

void PixelBufferPool::prepare(std::size_t bytes) {
    std::unique_ptr<PixelBuffer> buffer = state_->take(bytes);
    if (!buffer)
        buffer = factory_(bytes);
    give(std::move(buffer));
}

void PixelBufferPool::release() {
    std::vector<std::unique_ptr<PixelBuffer>> idle;
    std::lock_guard lock(state_->mutex);
    idle.swap(state_->idle);
}

int PixelBufferPool::idleCount() const {
    std::lock_guard lock(state_->mutex);
    return int(state_->idle.size());
}

} // namespace glimra
