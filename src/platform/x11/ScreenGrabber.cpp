#include "x11/ScreenGrabber.h"

#include "x11/XcbConnection.h"

#include <algorithm>
#include <deque>
#include <limits>

namespace glimra::x11 {

namespace {

// Segments a piece is read through (and copied out of) are capped; a larger piece is read in bands of
// rows. An image in a segment of its own has no cap.
constexpr std::size_t kShmMaxBytes = std::size_t(64) << 20;
// An image in its segment is requested in bands of this size all at once: the server fills the next
// band while this process sets the alpha bytes of the last.
constexpr std::size_t kShmPipelineBandBytes = std::size_t(1) << 20;
// A plain GetImage reply is a fresh malloc each time: bands of this size stay in the heap's warm part.
constexpr std::size_t kPlainBandBytes = std::size_t(4) << 20;
constexpr int kPlainLookahead = 2;

void fillBlack(QImage& image) {
    for (int y = 0; y < image.height(); ++y) {
        auto* row = reinterpret_cast<quint32*>(image.scanLine(y));
        std::fill_n(row, image.width(), 0xff000000u);
    }
}

// Nearest neighbour: a coarser screen's pixels become exact blocks in a finer image.
void scaleInto(const QImage& src, QImage& dst, const QRect& target) {
    std::vector<int> columns(std::size_t(target.width()));
    for (int x = 0; x < target.width(); ++x)
        columns[std::size_t(x)] = int(qint64(x) * src.width() / target.width());
    for (int y = 0; y < target.height(); ++y) {
        const auto* s = reinterpret_cast<const quint32*>(
            src.constScanLine(int(qint64(y) * src.height() / target.height())));
        auto* d = reinterpret_cast<quint32*>(dst.scanLine(target.top() + y)) + target.left();
        for (int x = 0; x < target.width(); ++x)
            d[x] = s[columns[std::size_t(x)]];
    }
}

// Reads src's rows in bands of about bandBytes, with at most `lookahead` bands requested ahead:
// request(y, rows) sends a band's read and gives its cookie, take(y, rows, cookie) waits for it and
// stores its rows (false on failure, which ends the read: the replies still due are discarded).
template <typename Cookie, typename Request, typename Take, typename Discard>
bool readInBands(const QRect& src, std::size_t bandBytes, std::size_t lookahead, Request request, Take take,
                 Discard discard) {
    const std::size_t rowBytes = std::size_t(src.width()) * 4;
    const int band = int(std::clamp<std::size_t>(bandBytes / rowBytes, 1, std::size_t(src.height())));
    struct Pending {
        int y, rows;
        Cookie cookie;
    };
    std::deque<Pending> pending;
    int next = 0;
    auto requestNext = [&] {
        const int rows = std::min(band, src.height() - next);
        pending.push_back({next, rows, request(next, rows)});
        next += rows;
    };
    while (next < src.height() && pending.size() < lookahead)
        requestNext();
    while (!pending.empty()) {
        const Pending p = pending.front();
        pending.pop_front();
        if (!take(p.y, p.rows, p.cookie)) {
            for (const Pending& rest : pending)
                discard(rest.cookie);
            return false;
        }
        if (next < src.height())
            requestNext();
    }
    return true;
}

bool logReadFailure(const QRect& src, int y, int rows, xcb_generic_error_t* error, const char* how) {
    logLine(QStringLiteral("reading %1 x %2 pixels at (%3, %4)%5 failed (error %6)")
                .arg(src.width())
                .arg(rows)
                .arg(src.x())
                .arg(src.y() + y)
                .arg(QLatin1String(how))
                .arg(error ? error->error_code : 0));
    std::free(error);
    return false;
}

} // namespace

ScreenGrabber::ScreenGrabber(XcbConnection& connection, bool useSharedMemory)
    : x_(connection), segments_(1, [this](std::size_t bytes) { return makeSegment(bytes); }), pool_(1) {
    checkPixelFormat();
    xcb_connection_t* c = x_.get();
    const xcb_query_extension_reply_t* shmExt = xcb_get_extension_data(c, &xcb_shm_id);
    if (useSharedMemory && shmExt && shmExt->present) {
        Reply<xcb_shm_query_version_reply_t> v(
            xcb_shm_query_version_reply(c, xcb_shm_query_version(c), nullptr));
        shmAvailable_ = bool(v);
    }
}

void ScreenGrabber::checkPixelFormat() {
    const xcb_screen_t* screen = x_.screen();
    const xcb_setup_t* setup = xcb_get_setup(x_.get());
    int bitsPerPixel = 0, pad = 0;
    for (auto it = xcb_setup_pixmap_formats_iterator(setup); it.rem; xcb_format_next(&it))
        if (it.data->depth == screen->root_depth) {
            bitsPerPixel = it.data->bits_per_pixel;
            pad = it.data->scanline_pad;
        }
    const xcb_visualtype_t* visual = nullptr;
    for (auto d = xcb_screen_allowed_depths_iterator(screen); d.rem && !visual; xcb_depth_next(&d))
        for (auto v = xcb_depth_visuals_iterator(d.data); v.rem; xcb_visualtype_next(&v))
            if (v.data->visual_id == screen->root_visual) {
                visual = v.data;
                break;
            }
    const bool lsbFirst = setup->image_byte_order == XCB_IMAGE_ORDER_LSB_FIRST;
    if (bitsPerPixel != 32 || pad != 32 || !visual || visual->red_mask != 0xff0000 ||
        visual->green_mask != 0xff00 || visual->blue_mask != 0xff ||
        lsbFirst != (Q_BYTE_ORDER == Q_LITTLE_ENDIAN))
        pixelFormatProblem_ = QStringLiteral("the root window's pixel format (depth %1, %2 bits per pixel) "
                                             "is not 8-bit RGB; grabs are unavailable")
                                  .arg(screen->root_depth)
                                  .arg(bitsPerPixel);
}

std::unique_ptr<PixelBuffer> ScreenGrabber::makeSegment(std::size_t bytes) {
    std::unique_ptr<ShmSegment> segment = ShmSegment::create(x_, bytes);
    if (!segment) {
        shmAvailable_ = false;
        return nullptr;
    }
    prime(*segment);
    return segment;
}

bool ScreenGrabber::read(const QRect& src, uchar* dst, qsizetype stride) {
    if (!shmAvailable_)
        return readPlain(x_.root(), src, dst, stride);
    const std::size_t rowBytes = std::size_t(src.width()) * 4;
    const std::size_t bytes = std::max(
        rowBytes, std::min(kShmMaxBytes / rowBytes * rowBytes, rowBytes * std::size_t(src.height())));
    std::unique_ptr<PixelBuffer> segment = segments_.takeIdle(bytes);
    if (!segment) {
        // The server faults a new segment in page by page at its first use (about 90 ms for 4K here),
        // far slower than a plain read: read plainly now and let the server fault a segment in behind
        // this grab, ready for the next.
        const bool ok = readPlain(x_.root(), src, dst, stride);
        segments_.prepare(bytes);
        return ok;
    }
    const bool ok =
        readShm(static_cast<ShmSegment&>(*segment), src, dst, stride); // segments_ holds nothing else
    segments_.give(std::move(segment));
    return ok;
}

// Reads src through the segment into dst. When dst is the segment's own memory (rows without gaps) the
// rows land in place, requested in bands all at once; otherwise bands as large as the segment are read
// and copied out one after the other.
bool ScreenGrabber::readShm(ShmSegment& segment, const QRect& src, uchar* dst, qsizetype stride) {
    segment.settle();
    xcb_connection_t* c = x_.get();
    const std::size_t rowBytes = std::size_t(src.width()) * 4;
    const bool inPlace = dst == segment.data() && std::size_t(stride) == rowBytes;
    const std::size_t bandBytes = inPlace ? kShmPipelineBandBytes : segment.capacity();
    return readInBands<xcb_shm_get_image_cookie_t>(
        src, bandBytes, inPlace ? std::numeric_limits<std::size_t>::max() : 1,
        [&](int y, int rows) {
            const auto offset = uint32_t(inPlace ? std::size_t(y) * rowBytes : 0);
            return xcb_shm_get_image(c, x_.root(), int16_t(src.x()), int16_t(src.y() + y),
                                     uint16_t(src.width()), uint16_t(rows), ~0u, XCB_IMAGE_FORMAT_Z_PIXMAP,
                                     segment.id(), offset);
        },
        [&](int y, int rows, xcb_shm_get_image_cookie_t cookie) {
            xcb_generic_error_t* error = nullptr;
            Reply<xcb_shm_get_image_reply_t> r(xcb_shm_get_image_reply(c, cookie, &error));
            if (!r || r->size < rowBytes * std::size_t(rows))
                return logReadFailure(src, y, rows, error, " through shared memory");
            const uchar* from = segment.data() + (inPlace ? std::size_t(y) * rowBytes : 0);
            for (int row = 0; row < rows; ++row)
                copyOpaque(from + std::size_t(row) * rowBytes, dst + (y + row) * stride, src.width());
            return true;
        },
        [c](xcb_shm_get_image_cookie_t cookie) { xcb_discard_reply(c, cookie.sequence); });
}

// A shared memory read nobody waits for: the server touches every page of the segment (as much of it
// as the root window fills) while this process goes on.
void ScreenGrabber::prime(const ShmSegment& segment) {
    xcb_connection_t* c = x_.get();
    const xcb_screen_t* screen = x_.screen();
    const std::size_t rowBytes = std::size_t(screen->width_in_pixels) * 4;
    const int rows = int(std::min<std::size_t>(screen->height_in_pixels, segment.capacity() / rowBytes));
    if (rows <= 0)
        return;
    const xcb_shm_get_image_cookie_t cookie =
        xcb_shm_get_image(c, x_.root(), 0, 0, screen->width_in_pixels, uint16_t(rows), ~0u,
                          XCB_IMAGE_FORMAT_Z_PIXMAP, segment.id(), 0);
    xcb_discard_reply(c, cookie.sequence);
    xcb_flush(c);
}

bool ScreenGrabber::readPlain(xcb_drawable_t drawable, const QRect& src, uchar* dst, qsizetype stride) {
    xcb_connection_t* c = x_.get();
    const std::size_t rowBytes = std::size_t(src.width()) * 4;
    return readInBands<xcb_get_image_cookie_t>(
        src, kPlainBandBytes, kPlainLookahead,
        [&](int y, int rows) {
            return xcb_get_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, drawable, int16_t(src.x()),
                                 int16_t(src.y() + y), uint16_t(src.width()), uint16_t(rows), ~0u);
        },
        [&](int y, int rows, xcb_get_image_cookie_t cookie) {
            xcb_generic_error_t* error = nullptr;
            Reply<xcb_get_image_reply_t> r(xcb_get_image_reply(c, cookie, &error));
            if (!r || std::size_t(xcb_get_image_data_length(r.get())) < rowBytes * std::size_t(rows))
                return logReadFailure(src, y, rows, error, "");
            const uchar* from = xcb_get_image_data(r.get());
            for (int row = 0; row < rows; ++row)
                copyOpaque(from + std::size_t(row) * rowBytes, dst + (y + row) * stride, src.width());
            return true;
        },
        [c](xcb_get_image_cookie_t cookie) { xcb_discard_reply(c, cookie.sequence); });
}

QImage ScreenGrabber::grab(const GrabPlan& plan) {
    if (!pixelFormatProblem_.isEmpty()) {
        logLine(pixelFormatProblem_);
        return QImage();
    }
    const bool covered = plan.pieces.size() == 1 && plan.pieces.front().target == QRect(QPoint(), plan.size);
    if (covered && shmAvailable_ && plan.pieces.front().source.size() == plan.size) {
        // One piece: the server writes it straight into a segment that becomes the image.
        const std::size_t bytes = std::size_t(plan.size.width()) * 4 * std::size_t(plan.size.height());
        if (std::unique_ptr<PixelBuffer> buffer = segments_.takeIdle(bytes)) {
            auto& segment = static_cast<ShmSegment&>(*buffer); // segments_ holds nothing else
            if (!readShm(segment, plan.pieces.front().source, segment.data(), plan.size.width() * 4)) {
                segments_.give(std::move(buffer));
                return QImage();
            }
            QImage image = segments_.adopt(std::move(buffer), plan.size);
            image.setDevicePixelRatio(plan.scale);
            return image;
        }
        // No warm segment: read below, which readies one for the next grab.
    }
    QImage image = pool_.createImage(plan.size);
    if (image.isNull()) {
        logLine(QStringLiteral("no memory for an image of %1 x %2 pixels")
                    .arg(plan.size.width())
                    .arg(plan.size.height()));
        return QImage();
    }
    if (!covered)
        fillBlack(image);
    for (const GrabPiece& piece : plan.pieces) {
        if (piece.source.size() == piece.target.size()) {
            uchar* dst = image.bits() + piece.target.y() * image.bytesPerLine() + piece.target.x() * 4;
            if (!read(piece.source, dst, image.bytesPerLine()))
                return QImage();
        } else {
            QImage part(piece.source.size(), QImage::Format_RGB32);
            if (part.isNull() || !read(piece.source, part.bits(), part.bytesPerLine()))
                return QImage();
            scaleInto(part, image, piece.target);
        }
    }
    image.setDevicePixelRatio(plan.scale);
    return image;
}

QImage ScreenGrabber::grabDrawable(xcb_drawable_t drawable, QSize size) {
    if (!pixelFormatProblem_.isEmpty()) {
        logLine(pixelFormatProblem_);
        return QImage();
    }
    QImage image = pool_.createImage(size);
    if (image.isNull()) {
        logLine(
            QStringLiteral("no memory for an image of %1 x %2 pixels").arg(size.width()).arg(size.height()));
        return QImage();
    }
    // Depth 24 and depth 32 (a translucent window's) pixels alike are 32 bits: the alpha byte is set
    // opaque, as in every grab.
    if (!readPlain(drawable, QRect(QPoint(0, 0), size), image.bits(), image.bytesPerLine()))
        return QImage();
    return image;
}

void ScreenGrabber::warmUp(const GrabPlan& plan) {
    const std::size_t imageBytes = std::size_t(plan.size.width()) * 4 * std::size_t(plan.size.height());
    const bool onePiece = plan.pieces.size() == 1 && plan.pieces.front().source.size() == plan.size;
    if (!shmAvailable_ || !onePiece)
        pool_.prepare(imageBytes);
    if (!shmAvailable_)
        return;
    if (onePiece) {
        segments_.prepare(imageBytes);
        return;
    }
    // The segment for reading the largest piece.
    std::size_t largest = 0;
    for (const GrabPiece& piece : plan.pieces)
        largest =
            std::max(largest, std::size_t(piece.source.width()) * 4 * std::size_t(piece.source.height()));
    if (largest > 0)
        segments_.prepare(std::min(largest, kShmMaxBytes));
}

void ScreenGrabber::releaseBuffers() {
    segments_.release();
    pool_.release();
}

} // namespace glimra::x11
