#include "wayland/ShmBuffers.h"

#include "wayland/WaylandConnection.h"

#include <QTransform>

#include <wayland-client.h>

#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <mutex>
#include <unordered_set>

namespace glimra::wayland {

bool readableFormat(uint32_t format) {
    return format == WL_SHM_FORMAT_XRGB8888 || format == WL_SHM_FORMAT_ARGB8888;
}

QImage uprightImage(const QImage& frame, bool yInvert, int transform) {
    QImage image = yInvert ? frame.mirrored(false, true) : frame;
    // The compositor mirrors the content around the vertical axis (the flipped transforms) and then
    // turns it counter-clockwise by the transform's angle; undo both in reverse order. QImage turns
    // exact multiples of 90 degrees pixel for pixel.
    const int quarterTurns = transform & 3;
    if (quarterTurns != 0)
        image = image.transformed(QTransform().rotate(90.0 * quarterTurns));
    if (transform & 4)
        image = image.mirrored(true, false);
    return image;
}

// A buffer's protocol objects: the pool over its memory, and the buffer of its last layout.
struct ShmProxies {
    wl_shm_pool* pool = nullptr;
    wl_buffer* buffer = nullptr;
};

static void destroy(const ShmProxies& proxies) {
    if (proxies.buffer)
        wl_buffer_destroy(proxies.buffer);
    if (proxies.pool)
        wl_shm_pool_destroy(proxies.pool);
}

// Protocol objects of buffers that died on other threads, destroyed on the connection's thread; and
// those of buffers still alive (in an image) when the buffers' owner goes, destroyed then, while their
// connection still is: a proxy left to the connection's end is never freed.
struct ShmBuffers::Graveyard {
    std::mutex mutex;
    std::vector<ShmProxies> dead;
    std::unordered_set<ShmProxies*> live;
    bool open = true;

    void bury(ShmProxies* proxies) {
        std::lock_guard lock(mutex);
        live.erase(proxies);
        if (open)
            dead.push_back(*proxies);
    }
};

class ShmBuffers::Buffer : public PixelBuffer {
public:
    static std::unique_ptr<PixelBuffer> create(wl_shm* shm, std::shared_ptr<Graveyard> graveyard,
                                               std::size_t bytes) {
        const std::size_t page = std::size_t(sysconf(_SC_PAGESIZE));
        const std::size_t size = (bytes + page - 1) / page * page;
        const int fd = memfd_create("glimra-output-copy", MFD_CLOEXEC);
        if (fd < 0 || ftruncate(fd, off_t(size)) != 0) {
            logLine(QStringLiteral("no shared memory of %1 bytes for a copy (%2)")
                        .arg(size)
                        .arg(QString::fromLocal8Bit(std::strerror(errno))));
            if (fd >= 0)
                close(fd);
            return nullptr;
        }
        void* p = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
        if (p == MAP_FAILED) {
            logLine(QStringLiteral("cannot map %1 bytes of shared memory (%2)")
                        .arg(size)
                        .arg(QString::fromLocal8Bit(std::strerror(errno))));
            close(fd);
            return nullptr;
        }
        // The compositor's writes would fault the pages in one by one otherwise.
        prefault(p, size);
        wl_shm_pool* pool = wl_shm_create_pool(shm, fd, int32_t(size));
        close(fd); // the request carries a duplicate
        return std::unique_ptr<PixelBuffer>(
            new Buffer(std::move(graveyard), static_cast<uchar*>(p), size, pool));
    }
    ~Buffer() override {
        munmap(data_, capacity_);
        graveyard_->bury(&proxies_);
    }
    Buffer(const Buffer&) = delete;
    Buffer& operator=(const Buffer&) = delete;

    uchar* data() const override { return data_; }
    std::size_t capacity() const override { return capacity_; }

    // On the connection's thread, while the buffers' owner lives.
    wl_buffer* wlBuffer(const FrameLayout& layout) {
        if (proxies_.buffer && layout.format == layout_.format && layout.size == layout_.size &&
            layout.stride == layout_.stride)
            return proxies_.buffer;
        if (proxies_.buffer)
            wl_buffer_destroy(proxies_.buffer);
        layout_ = layout;
        proxies_.buffer = wl_shm_pool_create_buffer(proxies_.pool, 0, layout.size.width(),
                                                    layout.size.height(), layout.stride, layout.format);
        return proxies_.buffer;
    }

private:
    Buffer(std::shared_ptr<Graveyard> graveyard, uchar* data, std::size_t capacity, wl_shm_pool* pool)
        : graveyard_(std::move(graveyard)), data_(data), capacity_(capacity), proxies_{pool} {
        std::lock_guard lock(graveyard_->mutex);
        graveyard_->live.insert(&proxies_);
    }

    std::shared_ptr<Graveyard> graveyard_;
    uchar* data_;
    std::size_t capacity_;
    ShmProxies proxies_;
    FrameLayout layout_;
};

ShmBuffers::ShmBuffers(wl_shm* shm)
    : shm_(shm), graveyard_(std::make_shared<Graveyard>()),
      shared_(4, [this](std::size_t bytes) { return Buffer::create(shm_, graveyard_, bytes); }),
      anonymous_(2) {}

ShmBuffers::~ShmBuffers() {
    shared_.release();
    collect();
    std::lock_guard lock(graveyard_->mutex);
    graveyard_->open = false;
    // Images that outlive their copier keep their memory; their protocol objects go now.
    for (ShmProxies* proxies : graveyard_->live) {
        destroy(*proxies);
        *proxies = {};
    }
    graveyard_->live.clear();
}

std::unique_ptr<PixelBuffer> ShmBuffers::take(std::size_t bytes) {
    if (std::unique_ptr<PixelBuffer> buffer = shared_.takeIdle(bytes))
        return buffer;
    return Buffer::create(shm_, graveyard_, bytes);
}

wl_buffer* ShmBuffers::wlBuffer(PixelBuffer& buffer, const FrameLayout& layout) {
    return static_cast<Buffer&>(buffer).wlBuffer(layout); // take() makes nothing else
}

QImage ShmBuffers::finish(std::unique_ptr<PixelBuffer> buffer, const FrameLayout& layout) {
    const int width = layout.size.width();
    const int height = layout.size.height();
    uchar* data = buffer->data();
    if (!layout.yInvert && layout.transform == WL_OUTPUT_TRANSFORM_NORMAL && layout.stride == width * 4) {
        // The usual case: the copy becomes the image where it lies.
        for (int y = 0; y < height; ++y)
            copyOpaque(data + qsizetype(y) * layout.stride, data + qsizetype(y) * layout.stride, width);
        QImage image = shared_.adopt(std::move(buffer), layout.size);
        if (image.isNull())
            logLine(QStringLiteral("no image of %1 x %2 pixels could be made").arg(width).arg(height));
        return image;
    }
    QImage image;
    if (layout.transform == WL_OUTPUT_TRANSFORM_NORMAL) {
        // Rows copied in the order they show (compositors rendering with GL hand them bottom up).
        image = anonymous_.createImage(layout.size);
        if (!image.isNull())
            for (int y = 0; y < height; ++y)
                copyOpaque(data + qsizetype(layout.yInvert ? height - 1 - y : y) * layout.stride,
                           image.scanLine(y), width);
    } else {
        for (int y = 0; y < height; ++y)
            copyOpaque(data + qsizetype(y) * layout.stride, data + qsizetype(y) * layout.stride, width);
        image = uprightImage(QImage(data, width, height, layout.stride, QImage::Format_RGB32), layout.yInvert,
                             layout.transform);
    }
    shared_.give(std::move(buffer));
    if (image.isNull())
        logLine(QStringLiteral("no memory for an image of %1 x %2 pixels").arg(width).arg(height));
    return image;
}

void ShmBuffers::warmUp(const std::vector<std::size_t>& sizes) {
    std::vector<std::unique_ptr<PixelBuffer>> taken;
    for (std::size_t bytes : sizes)
        if (std::unique_ptr<PixelBuffer> buffer = take(bytes))
            taken.push_back(std::move(buffer));
    for (auto& buffer : taken)
        shared_.give(std::move(buffer));
    collect();
}

void ShmBuffers::release() {
    shared_.release();
    anonymous_.release();
    collect();
}

void ShmBuffers::collect() {
    std::vector<ShmProxies> dead;
    {
        std::lock_guard lock(graveyard_->mutex);
        dead.swap(graveyard_->dead);
    }
    for (const ShmProxies& proxies : dead)
        destroy(proxies);
}

// The bytes a copy of each output takes, for warming buffers up.
std::vector<std::size_t> copyBytes(const std::vector<OutputInfo>& outputs) {
    std::vector<std::size_t> sizes;
    for (const OutputInfo& o : outputs)
        sizes.push_back(std::size_t(o.modeSize.width()) * 4 * std::size_t(o.modeSize.height()));
    return sizes;
}

} // namespace glimra::wayland
