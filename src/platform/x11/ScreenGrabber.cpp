#include "x11/ScreenGrabber.h"

#include "x11/XcbConnection.h"

#include <algorithm>
#include <deque>

namespace glimra::x11 {

namespace {

// Shared memory segments are capped; a larger piece is read in bands of rows.
constexpr std::size_t kShmMaxBytes = std::size_t(64) << 20;
// A plain GetImage reply is a fresh malloc each time: bands of this size stay in the heap's warm part.
constexpr std::size_t kPlainBandBytes = std::size_t(4) << 20;
constexpr int kPlainLookahead = 2;

// X pads the 24 colour bits to 32 with an undefined top byte; Format_RGB32 wants it 0xff.
void copyOpaque(const uchar* src, uchar* dst, int width) {
    const auto* s = reinterpret_cast<const quint32*>(src);
    auto* d = reinterpret_cast<quint32*>(dst);
    for (int i = 0; i < width; ++i)
        d[i] = s[i] | 0xff000000u;
}

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

} // namespace

ScreenGrabber::ScreenGrabber(XcbConnection& connection, bool useSharedMemory)
    : x_(connection), segment_(connection) {
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

bool ScreenGrabber::ensureSegment(std::size_t bytes) {
    if (segment_.ensure(bytes))
        return true;
    shmAvailable_ = false;
    return false;
}

bool ScreenGrabber::read(const QRect& src, uchar* dst, qsizetype stride) {
    return shmAvailable_ ? readShm(src, dst, stride) : readPlain(src, dst, stride);
}

bool ScreenGrabber::readShm(const QRect& src, uchar* dst, qsizetype stride) {
    xcb_connection_t* c = x_.get();
    const std::size_t rowBytes = std::size_t(src.width()) * 4;
    const int band = int(std::clamp<std::size_t>(kShmMaxBytes / rowBytes, 1, std::size_t(src.height())));
    for (int y = 0; y < src.height(); y += band) {
        const int rows = std::min(band, src.height() - y);
        const QRect rest(src.x(), src.y() + y, src.width(), src.height() - y);
        segment_.settle();
        if (segment_.size() < rowBytes * std::size_t(rows)) {
            // The server faults a new segment in page by page at its first use (about 90 ms for 4K
            // here), far slower than a plain read: read plainly now and let the server fault the
            // segment in behind this grab, ready for the next.
            const bool ok = readPlain(rest, dst + y * stride, stride);
            if (ensureSegment(rowBytes * std::size_t(rows)))
                prime(QRect(src.x(), src.y(), src.width(), rows));
            return ok;
        }
        xcb_generic_error_t* error = nullptr;
        Reply<xcb_shm_get_image_reply_t> r(xcb_shm_get_image_reply(
            c,
            xcb_shm_get_image(c, x_.root(), int16_t(src.x()), int16_t(src.y() + y), uint16_t(src.width()),
                              uint16_t(rows), ~0u, XCB_IMAGE_FORMAT_Z_PIXMAP, segment_.id(), 0),
            &error));
        if (!r || r->size < rowBytes * std::size_t(rows)) {
            logLine(
                QStringLiteral("reading %1 x %2 pixels at (%3, %4) through shared memory failed (error %5)")
                    .arg(src.width())
                    .arg(rows)
                    .arg(src.x())
                    .arg(src.y() + y)
                    .arg(error ? error->error_code : 0));
            std::free(error);
            return false;
        }
        const auto* from = static_cast<const uchar*>(segment_.address());
        for (int row = 0; row < rows; ++row)
            copyOpaque(from + std::size_t(row) * rowBytes, dst + (y + row) * stride, src.width());
    }
    return true;
}

// A shared memory read nobody waits for: the server touches every page of the segment while this
// process goes on.
void ScreenGrabber::prime(const QRect& src) {
    xcb_connection_t* c = x_.get();
    const xcb_shm_get_image_cookie_t cookie =
        xcb_shm_get_image(c, x_.root(), int16_t(src.x()), int16_t(src.y()), uint16_t(src.width()),
                          uint16_t(src.height()), ~0u, XCB_IMAGE_FORMAT_Z_PIXMAP, segment_.id(), 0);
    xcb_discard_reply(c, cookie.sequence);
    xcb_flush(c);
}

bool ScreenGrabber::readPlain(const QRect& src, uchar* dst, qsizetype stride) {
    xcb_connection_t* c = x_.get();
    const std::size_t rowBytes = std::size_t(src.width()) * 4;
    const int band = int(std::clamp<std::size_t>(kPlainBandBytes / rowBytes, 1, std::size_t(src.height())));
    struct Pending {
        int y, rows;
        xcb_get_image_cookie_t cookie;
    };
    std::deque<Pending> pending;
    int next = 0;
    auto request = [&] {
        const int rows = std::min(band, src.height() - next);
        pending.push_back(
            {next, rows,
             xcb_get_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, x_.root(), int16_t(src.x()), int16_t(src.y() + next),
                           uint16_t(src.width()), uint16_t(rows), ~0u)});
        next += rows;
    };
    bool ok = true;
    while (next < src.height() && int(pending.size()) < kPlainLookahead)
        request();
    while (!pending.empty()) {
        const Pending p = pending.front();
        pending.pop_front();
        xcb_generic_error_t* error = nullptr;
        Reply<xcb_get_image_reply_t> r(xcb_get_image_reply(c, p.cookie, &error));
        if (ok && (!r || std::size_t(xcb_get_image_data_length(r.get())) < rowBytes * std::size_t(p.rows))) {
            logLine(QStringLiteral("reading %1 x %2 pixels at (%3, %4) failed (error %5)")
                        .arg(src.width())
                        .arg(p.rows)
                        .arg(src.x())
                        .arg(src.y() + p.y)
                        .arg(error ? error->error_code : 0));
            ok = false;
        }
        std::free(error);
        if (ok) {
            const uchar* from = xcb_get_image_data(r.get());
            for (int row = 0; row < p.rows; ++row)
                copyOpaque(from + std::size_t(row) * rowBytes, dst + (p.y + row) * stride, src.width());
            if (next < src.height())
                request();
        }
    }
    return ok;
}

QImage ScreenGrabber::grab(const GrabPlan& plan) {
    if (!pixelFormatProblem_.isEmpty()) {
        logLine(pixelFormatProblem_);
        return QImage();
    }
    QImage image = pool_.createImage(plan.size);
    if (image.isNull()) {
        logLine(QStringLiteral("no memory for an image of %1 x %2 pixels")
                    .arg(plan.size.width())
                    .arg(plan.size.height()));
        return QImage();
    }
    const bool covered = plan.pieces.size() == 1 && plan.pieces.front().target == image.rect();
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
    return image;
}

void ScreenGrabber::warmUp(const GrabPlan& plan) {
    pool_.prepare(std::size_t(plan.size.width()) * std::size_t(plan.size.height()) * 4);
    if (!shmAvailable_)
        return;
    // The segment for the largest screen, faulted in by the server while the caller goes on.
    QRect largest;
    for (const GrabPiece& piece : plan.pieces)
        if (qint64(piece.source.width()) * piece.source.height() > qint64(largest.width()) * largest.height())
            largest = piece.source;
    if (largest.isEmpty())
        return;
    const std::size_t rowBytes = std::size_t(largest.width()) * 4;
    largest.setHeight(int(std::min<std::size_t>(std::size_t(largest.height()), kShmMaxBytes / rowBytes)));
    if (ensureSegment(rowBytes * std::size_t(largest.height())))
        prime(largest);
}

} // namespace glimra::x11
