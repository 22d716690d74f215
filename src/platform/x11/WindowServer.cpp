#include "x11/WindowServer.h"

#include "Log.h"
#include "x11/PixelBufferPool.h"

#include <QGuiApplication>
#include <QScreen>

#include <xcb/randr.h>
#include <xcb/shm.h>
#include <xcb/xcb.h>

#include <sys/ipc.h>
#include <sys/shm.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <thread>
#include <unordered_map>
#include <unordered_set>

namespace glimra::x11 {

namespace {

void logLine(const QString& text) {
    writeLogLine(QStringLiteral("Window server: ") + text);
}

QString hexId(uint32_t id) {
    return QStringLiteral("0x") + QString::number(id, 16);
}

struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};
template <typename T> using Reply = std::unique_ptr<T, FreeDeleter>;

struct ConnectionDeleter {
    void operator()(xcb_connection_t* c) const { xcb_disconnect(c); }
};

// Shared memory segments are capped; a larger piece is read in bands of rows.
constexpr std::size_t kShmMaxBytes = std::size_t(64) << 20;
// A plain GetImage reply is a fresh malloc each time: bands of this size stay in the heap's warm part.
constexpr std::size_t kPlainBandBytes = std::size_t(4) << 20;
constexpr int kPlainLookahead = 2;

const char* const kAtomNames[] = {
    "UTF8_STRING",
    "WM_STATE",
    "_NET_SUPPORTING_WM_CHECK",
    "_NET_CLIENT_LIST_STACKING",
    "_NET_CLIENT_LIST",
    "_NET_WM_NAME",
    "_NET_WM_PID",
    "_NET_WM_WINDOW_OPACITY",
    "_NET_WM_WINDOW_TYPE",
    "_NET_WM_WINDOW_TYPE_DESKTOP",
    "_NET_WM_WINDOW_TYPE_DOCK",
    "_NET_WM_WINDOW_TYPE_NORMAL",
    "_NET_WM_WINDOW_TYPE_DIALOG",
    "_NET_WM_STATE",
    "_NET_WM_STATE_HIDDEN",
    // The remaining standard types, all of which read as Kind::Other.
    "_NET_WM_WINDOW_TYPE_TOOLBAR",
    "_NET_WM_WINDOW_TYPE_MENU",
    "_NET_WM_WINDOW_TYPE_UTILITY",
    "_NET_WM_WINDOW_TYPE_SPLASH",
    "_NET_WM_WINDOW_TYPE_DROPDOWN_MENU",
    "_NET_WM_WINDOW_TYPE_POPUP_MENU",
    "_NET_WM_WINDOW_TYPE_TOOLTIP",
    "_NET_WM_WINDOW_TYPE_NOTIFICATION",
    "_NET_WM_WINDOW_TYPE_COMBO",
    "_NET_WM_WINDOW_TYPE_DND",
};
enum Atom {
    UTF8_STRING,
    WM_STATE,
    NET_SUPPORTING_WM_CHECK,
    NET_CLIENT_LIST_STACKING,
    NET_CLIENT_LIST,
    NET_WM_NAME,
    NET_WM_PID,
    NET_WM_WINDOW_OPACITY,
    NET_WM_WINDOW_TYPE,
    NET_WM_WINDOW_TYPE_DESKTOP,
    NET_WM_WINDOW_TYPE_DOCK,
    NET_WM_WINDOW_TYPE_NORMAL,
    NET_WM_WINDOW_TYPE_DIALOG,
    NET_WM_STATE,
    NET_WM_STATE_HIDDEN,
    FirstOtherType,
    AtomCount = FirstOtherType + 10
};
static_assert(std::size(kAtomNames) == AtomCount);

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

struct WindowServer::Private {
    std::unique_ptr<xcb_connection_t, ConnectionDeleter> connection;
    xcb_connection_t* c = nullptr;
    xcb_window_t root = XCB_NONE;
    xcb_atom_t atoms[AtomCount] = {};
    QString pixelFormatProblem; // empty when grabs can be read as RGB32
    bool randrMonitors = false;

    bool shmAvailable = false;
    struct Segment {
        xcb_shm_seg_t seg = 0;
        void* address = nullptr;
        std::size_t size = 0;
    } shm;
    // Makes a new segment's pages resident on this side; see ensureSegment.
    std::thread segmentToucher;

    PixelBufferPool pool;

    ~Private() { releaseSegment(); }

    // ---- connection housekeeping ----

    // Errors of requests nobody waits for arrive as events; nothing here selects events, so whatever
    // is queued is such an error and only needs dropping, lest the queue grow for ever.
    bool ready(const char* operation) {
        while (xcb_generic_event_t* e = xcb_poll_for_event(c))
            std::free(e);
        if (xcb_connection_has_error(c)) {
            logLine(QStringLiteral("%1 failed: the connection to the X server is broken").arg(operation));
            return false;
        }
        return true;
    }

    void internAtoms() {
        xcb_intern_atom_cookie_t cookies[AtomCount];
        for (int i = 0; i < AtomCount; ++i)
            cookies[i] = xcb_intern_atom(c, 0, uint16_t(std::strlen(kAtomNames[i])), kAtomNames[i]);
        for (int i = 0; i < AtomCount; ++i) {
            Reply<xcb_intern_atom_reply_t> r(xcb_intern_atom_reply(c, cookies[i], nullptr));
            atoms[i] = r ? r->atom : XCB_NONE;
        }
    }

    void checkPixelFormat(const xcb_screen_t* screen) {
        const xcb_setup_t* setup = xcb_get_setup(c);
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
            pixelFormatProblem =
                QStringLiteral("the root window's pixel format (depth %1, %2 bits per pixel) "
                               "is not 8-bit RGB; grabs are unavailable")
                    .arg(screen->root_depth)
                    .arg(bitsPerPixel);
    }

    void checkExtensions(bool wantShm) {
        const xcb_query_extension_reply_t* shmExt = xcb_get_extension_data(c, &xcb_shm_id);
        const xcb_query_extension_reply_t* randrExt = xcb_get_extension_data(c, &xcb_randr_id);
        if (wantShm && shmExt && shmExt->present) {
            Reply<xcb_shm_query_version_reply_t> v(
                xcb_shm_query_version_reply(c, xcb_shm_query_version(c), nullptr));
            shmAvailable = bool(v);
        }
        if (randrExt && randrExt->present) {
            Reply<xcb_randr_query_version_reply_t> v(
                xcb_randr_query_version_reply(c, xcb_randr_query_version(c, 1, 5), nullptr));
            randrMonitors = v && (v->major_version > 1 || v->minor_version >= 5);
        }
    }

    // ---- screens ----

    struct Monitor {
        QString name;
        QRect native;
        bool primary = false;
    };

    std::vector<Monitor> monitors() {
        std::vector<Monitor> out;
        if (!randrMonitors)
            return out;
        Reply<xcb_randr_get_monitors_reply_t> r(
            xcb_randr_get_monitors_reply(c, xcb_randr_get_monitors(c, root, 1), nullptr));
        if (!r)
            return out;
        std::vector<xcb_get_atom_name_cookie_t> names;
        for (auto it = xcb_randr_get_monitors_monitors_iterator(r.get()); it.rem;
             xcb_randr_monitor_info_next(&it)) {
            out.push_back({QString(), QRect(it.data->x, it.data->y, it.data->width, it.data->height),
                           bool(it.data->primary)});
            names.push_back(xcb_get_atom_name(c, it.data->name));
        }
        for (std::size_t i = 0; i < names.size(); ++i) {
            Reply<xcb_get_atom_name_reply_t> n(xcb_get_atom_name_reply(c, names[i], nullptr));
            if (n)
                out[i].name = QString::fromUtf8(xcb_get_atom_name_name(n.get()),
                                                xcb_get_atom_name_name_length(n.get()));
        }
        return out;
    }

    QRect rootRect() {
        Reply<xcb_get_geometry_reply_t> g(xcb_get_geometry_reply(c, xcb_get_geometry(c, root), nullptr));
        return g ? QRect(0, 0, g->width, g->height) : QRect();
    }

    static bool qtSpeaksX11() {
        return qGuiApp && QGuiApplication::platformName() == QLatin1String("xcb") &&
               QGuiApplication::primaryScreen();
    }

    std::vector<ScreenGeometry> screens() {
        const QRect root = rootRect();
        const std::vector<Monitor> mons = monitors();
        std::vector<ScreenGeometry> out;
        if (qtSpeaksX11()) {
            // Qt knows each screen's scale and its points; the monitor of the same name knows where its
            // pixels are. Without such a monitor Qt's own rule (origin kept, size scaled) stands in.
            const QPointF origin = WindowServer::globalDisplayOrigin();
            const QScreen* primary = QGuiApplication::primaryScreen();
            for (const QScreen* s : QGuiApplication::screens()) {
                ScreenGeometry g;
                g.name = s->name();
                g.scale = s->devicePixelRatio();
                g.primary = s == primary;
                const QRect logical = s->geometry();
                g.points = QRectF(logical).translated(-origin);
                const auto m = std::find_if(mons.begin(), mons.end(),
                                            [&](const Monitor& m) { return m.name == g.name; });
                g.native = m != mons.end()
                               ? m->native
                               : QRect(logical.topLeft(), (QSizeF(logical.size()) * g.scale).toSize());
                out.push_back(std::move(g));
            }
        } else {
            auto primary = std::find_if(mons.begin(), mons.end(), [](const Monitor& m) { return m.primary; });
            if (primary == mons.end())
                primary = mons.begin();
            const QPoint origin = primary != mons.end() ? primary->native.topLeft() : QPoint();
            for (const Monitor& m : mons)
                out.push_back({m.name, QRectF(m.native.translated(-origin)), m.native, 1.0, &m == &*primary});
            if (out.empty())
                out.push_back({QString(), QRectF(root), root, 1.0, true});
        }
        std::stable_partition(out.begin(), out.end(), [](const ScreenGeometry& g) { return g.primary; });
        return clippedToRoot(std::move(out), root);
    }

    // ---- pixels ----

    // The toucher writes into the segment: it must be done before the segment is read or let go.
    void settleSegment() {
        if (segmentToucher.joinable())
            segmentToucher.join();
    }

    void releaseSegment() {
        settleSegment();
        if (!shm.address)
            return;
        if (c && !xcb_connection_has_error(c))
            xcb_shm_detach(c, shm.seg);
        shmdt(shm.address);
        shm = Segment();
    }

    bool ensureSegment(std::size_t bytes) {
        if (shm.size >= bytes)
            return true;
        releaseSegment();
        const std::size_t size = (bytes + (std::size_t(1) << 20) - 1) & ~((std::size_t(1) << 20) - 1);
        const int id = shmget(IPC_PRIVATE, size, IPC_CREAT | 0600);
        if (id < 0) {
            logLine(QStringLiteral("no shared memory segment of %1 bytes (%2); using plain GetImage")
                        .arg(size)
                        .arg(QString::fromLocal8Bit(std::strerror(errno))));
            shmAvailable = false;
            return false;
        }
        void* address = shmat(id, nullptr, 0);
        Segment s{xcb_generate_id(c), address, size};
        xcb_generic_error_t* error = nullptr;
        if (address != reinterpret_cast<void*>(-1))
            error = xcb_request_check(c, xcb_shm_attach_checked(c, s.seg, uint32_t(id), 0));
        // Marked for removal at once: the kernel frees it when both sides have detached, even if this
        // process dies.
        shmctl(id, IPC_RMID, nullptr);
        if (address == reinterpret_cast<void*>(-1) || error) {
            logLine(
                QStringLiteral("the X server cannot attach shared memory (error %1); using plain GetImage")
                    .arg(error ? error->error_code : 0));
            std::free(error);
            if (address != reinterpret_cast<void*>(-1))
                shmdt(address);
            shmAvailable = false;
            return false;
        }
        shm = s;
        // On these virtual machines the first access to each 4 KiB page from this process costs 5 to
        // 10 us even when populated (about 70 ms for a 4K segment), once. A short-lived thread pays it
        // while the caller goes on and the server faults in its own side.
        segmentToucher = std::thread([address, size] {
            prefault(address, size);
            auto* p = static_cast<volatile uchar*>(address);
            for (std::size_t i = 0; i < size; i += 4096)
                p[i] = 0;
        });
        return true;
    }

    bool readShm(const QRect& src, uchar* dst, qsizetype stride) {
        const std::size_t rowBytes = std::size_t(src.width()) * 4;
        const int band = int(std::clamp<std::size_t>(kShmMaxBytes / rowBytes, 1, std::size_t(src.height())));
        for (int y = 0; y < src.height(); y += band) {
            const int rows = std::min(band, src.height() - y);
            const QRect rest(src.x(), src.y() + y, src.width(), src.height() - y);
            settleSegment();
            if (shm.size < rowBytes * std::size_t(rows)) {
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
                xcb_shm_get_image(c, root, int16_t(src.x()), int16_t(src.y() + y), uint16_t(src.width()),
                                  uint16_t(rows), ~0u, XCB_IMAGE_FORMAT_Z_PIXMAP, shm.seg, 0),
                &error));
            if (!r || r->size < rowBytes * std::size_t(rows)) {
                logLine(QStringLiteral(
                            "reading %1 x %2 pixels at (%3, %4) through shared memory failed (error %5)")
                            .arg(src.width())
                            .arg(rows)
                            .arg(src.x())
                            .arg(src.y() + y)
                            .arg(error ? error->error_code : 0));
                std::free(error);
                return false;
            }
            const auto* from = static_cast<const uchar*>(shm.address);
            for (int row = 0; row < rows; ++row)
                copyOpaque(from + std::size_t(row) * rowBytes, dst + (y + row) * stride, src.width());
        }
        return true;
    }

    // A shared memory read nobody waits for: the server touches every page of the segment while this
    // process goes on.
    void prime(const QRect& src) {
        const xcb_shm_get_image_cookie_t cookie =
            xcb_shm_get_image(c, root, int16_t(src.x()), int16_t(src.y()), uint16_t(src.width()),
                              uint16_t(src.height()), ~0u, XCB_IMAGE_FORMAT_Z_PIXMAP, shm.seg, 0);
        xcb_discard_reply(c, cookie.sequence);
        xcb_flush(c);
    }

    bool readPlain(const QRect& src, uchar* dst, qsizetype stride) {
        const std::size_t rowBytes = std::size_t(src.width()) * 4;
        const int band =
            int(std::clamp<std::size_t>(kPlainBandBytes / rowBytes, 1, std::size_t(src.height())));
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
                 xcb_get_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, root, int16_t(src.x()), int16_t(src.y() + next),
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
            if (ok &&
                (!r || std::size_t(xcb_get_image_data_length(r.get())) < rowBytes * std::size_t(p.rows))) {
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

    bool read(const QRect& src, uchar* dst, qsizetype stride) {
        return shmAvailable ? readShm(src, dst, stride) : readPlain(src, dst, stride);
    }

    QImage grab(const GrabPlan& plan) {
        if (!pixelFormatProblem.isEmpty()) {
            logLine(pixelFormatProblem);
            return QImage();
        }
        QImage image = pool.createImage(plan.size);
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

    // ---- windows ----

    Reply<xcb_get_property_reply_t> propertyReply(xcb_get_property_cookie_t cookie) {
        xcb_generic_error_t* error = nullptr;
        Reply<xcb_get_property_reply_t> r(xcb_get_property_reply(c, cookie, &error));
        std::free(error);
        return r;
    }

    xcb_get_property_cookie_t requestProperty(xcb_window_t w, Atom property, uint32_t longs = 1) {
        return xcb_get_property(c, 0, w, atoms[property], XCB_GET_PROPERTY_TYPE_ANY, 0, longs);
    }

    std::vector<uint32_t> values32(xcb_get_property_cookie_t cookie) {
        auto r = propertyReply(cookie);
        if (!r || r->format != 32)
            return {};
        const auto* v = static_cast<const uint32_t*>(xcb_get_property_value(r.get()));
        return std::vector<uint32_t>(v, v + xcb_get_property_value_length(r.get()) / 4);
    }

    std::optional<uint32_t> cardinal(xcb_get_property_cookie_t cookie) {
        const std::vector<uint32_t> v = values32(cookie);
        return v.empty() ? std::nullopt : std::optional<uint32_t>(v.front());
    }

    QString text(xcb_get_property_cookie_t cookie) {
        auto r = propertyReply(cookie);
        if (!r || r->format != 8)
            return QString();
        QByteArray bytes(static_cast<const char*>(xcb_get_property_value(r.get())),
                         xcb_get_property_value_length(r.get()));
        while (bytes.endsWith('\0'))
            bytes.chop(1);
        return r->type == XCB_ATOM_STRING ? QString::fromLatin1(bytes) : QString::fromUtf8(bytes);
    }

    // The window manager's check window names itself too; a stale property left by a window manager
    // that died does not.
    bool windowManagerRuns() {
        const std::optional<uint32_t> check = cardinal(requestProperty(root, NET_SUPPORTING_WM_CHECK));
        if (!check || *check == XCB_NONE)
            return false;
        const std::optional<uint32_t> self = cardinal(requestProperty(*check, NET_SUPPORTING_WM_CHECK));
        return self && *self == *check;
    }

    std::optional<std::vector<xcb_window_t>> rootChildren() {
        xcb_generic_error_t* error = nullptr;
        Reply<xcb_query_tree_reply_t> r(xcb_query_tree_reply(c, xcb_query_tree(c, root), &error));
        if (!r) {
            logLine(QStringLiteral("the root window's children cannot be read (error %1)")
                        .arg(error ? error->error_code : 0));
            std::free(error);
            return std::nullopt;
        }
        const xcb_window_t* children = xcb_query_tree_children(r.get());
        return std::vector<xcb_window_t>(children, children + xcb_query_tree_children_length(r.get()));
    }

    // The root's child that holds each window: its frame when a window manager reparented it, else
    // the window itself. Windows that are gone are left out.
    std::unordered_map<xcb_window_t, xcb_window_t>
    topLevels(const std::vector<xcb_window_t>& windows, const std::unordered_set<xcb_window_t>& children) {
        std::unordered_map<xcb_window_t, xcb_window_t> top;
        std::vector<std::pair<xcb_window_t, xcb_window_t>> open; // (window, ancestor reached so far)
        for (xcb_window_t w : windows) {
            if (children.count(w))
                top[w] = w;
            else
                open.push_back({w, w});
        }
        for (int depth = 0; depth < 16 && !open.empty(); ++depth) {
            std::vector<xcb_query_tree_cookie_t> cookies;
            for (const auto& o : open)
                cookies.push_back(xcb_query_tree(c, o.second));
            std::vector<std::pair<xcb_window_t, xcb_window_t>> still;
            for (std::size_t i = 0; i < open.size(); ++i) {
                xcb_generic_error_t* error = nullptr;
                Reply<xcb_query_tree_reply_t> r(xcb_query_tree_reply(c, cookies[i], &error));
                std::free(error);
                if (!r || r->parent == XCB_NONE)
                    continue;
                if (r->parent == root)
                    top[open[i].first] = open[i].second;
                else
                    still.push_back({open[i].first, r->parent});
            }
            open = std::move(still);
        }
        return top;
    }

    struct Candidate {
        xcb_window_t client;
        xcb_window_t frame;
        bool managed;
    };

    // The first standard type decides; vendor types (Qt puts _KDE_NET_WM_WINDOW_TYPE_OVERRIDE first)
    // are passed over. Without a type a managed window is normal, an override-redirect one is not.
    WindowInfo::Kind kindOf(const std::vector<uint32_t>& types, bool overrideRedirect) const {
        for (uint32_t t : types) {
            if (t == atoms[NET_WM_WINDOW_TYPE_DESKTOP])
                return WindowInfo::Kind::Desktop;
            if (t == atoms[NET_WM_WINDOW_TYPE_DOCK])
                return WindowInfo::Kind::Dock;
            if (t == atoms[NET_WM_WINDOW_TYPE_NORMAL] || t == atoms[NET_WM_WINDOW_TYPE_DIALOG])
                return WindowInfo::Kind::Normal;
            if (std::find(atoms + FirstOtherType, atoms + AtomCount, t) != atoms + AtomCount)
                return WindowInfo::Kind::Other;
        }
        return overrideRedirect ? WindowInfo::Kind::Other : WindowInfo::Kind::Normal;
    }

    std::optional<std::vector<WindowInfo>> windowList(bool onScreenOnly, bool excludeDesktopElements) {
        const std::optional<std::vector<xcb_window_t>> children = rootChildren();
        if (!children)
            return std::nullopt;

        // Front to back, as the root's children stack from the bottom up.
        std::vector<Candidate> candidates;
        std::vector<uint32_t> clients;
        if (windowManagerRuns()) {
            clients = values32(requestProperty(root, NET_CLIENT_LIST_STACKING, 65536));
            if (clients.empty())
                clients = values32(requestProperty(root, NET_CLIENT_LIST, 65536));
        }
        if (!clients.empty()) {
            const std::unordered_set<xcb_window_t> childSet(children->begin(), children->end());
            const auto top = topLevels(std::vector<xcb_window_t>(clients.begin(), clients.end()), childSet);
            std::unordered_map<xcb_window_t, xcb_window_t> clientOfFrame;
            for (xcb_window_t client : clients) // bottom to top, so the topmost client of a frame wins
                if (auto it = top.find(client); it != top.end())
                    clientOfFrame[it->second] = client;
            for (auto it = children->rbegin(); it != children->rend(); ++it) {
                const auto managed = clientOfFrame.find(*it);
                candidates.push_back(managed != clientOfFrame.end() ? Candidate{managed->second, *it, true}
                                                                    : Candidate{*it, *it, false});
            }
        } else {
            for (auto it = children->rbegin(); it != children->rend(); ++it)
                candidates.push_back({*it, *it, false});
        }

        struct Requests {
            xcb_get_window_attributes_cookie_t attributes;
            xcb_get_geometry_cookie_t geometry;
            xcb_get_property_cookie_t netName, wmName, pid, opacity, frameOpacity, type, state;
        };
        std::vector<Requests> requests;
        requests.reserve(candidates.size());
        for (const Candidate& w : candidates)
            requests.push_back(
                {xcb_get_window_attributes(c, w.frame), xcb_get_geometry(c, w.frame),
                 requestProperty(w.client, NET_WM_NAME, 4096),
                 xcb_get_property(c, 0, w.client, XCB_ATOM_WM_NAME, XCB_GET_PROPERTY_TYPE_ANY, 0, 4096),
                 requestProperty(w.client, NET_WM_PID), requestProperty(w.client, NET_WM_WINDOW_OPACITY),
                 requestProperty(w.frame, NET_WM_WINDOW_OPACITY),
                 requestProperty(w.client, NET_WM_WINDOW_TYPE, 64),
                 requestProperty(w.client, NET_WM_STATE, 64)});

        const std::vector<ScreenGeometry> screenList = screens();
        std::vector<WindowInfo> out;
        for (std::size_t i = 0; i < candidates.size(); ++i) {
            const Candidate& w = candidates[i];
            Requests& q = requests[i];
            // Every reply is collected, also for windows skipped early, so none is left queued.
            Reply<xcb_get_window_attributes_reply_t> attributes(
                xcb_get_window_attributes_reply(c, q.attributes, nullptr));
            Reply<xcb_get_geometry_reply_t> geometry(xcb_get_geometry_reply(c, q.geometry, nullptr));
            WindowInfo info;
            info.number = w.client;
            info.name = text(q.netName);
            const QString wmName = text(q.wmName);
            if (info.name.isEmpty())
                info.name = wmName;
            info.ownerPid = cardinal(q.pid).value_or(0);
            const std::optional<uint32_t> ownOpacity = cardinal(q.opacity);
            const std::optional<uint32_t> frameOpacity = cardinal(q.frameOpacity);
            const std::vector<uint32_t> types = values32(q.type);
            const std::vector<uint32_t> states = values32(q.state);

            if (!attributes || !geometry) {
                if (w.managed)
                    logLine(QStringLiteral("window %1 vanished while the window list was read")
                                .arg(hexId(w.client)));
                continue;
            }
            if (attributes->_class == XCB_WINDOW_CLASS_INPUT_ONLY)
                continue;
            const bool viewable = attributes->map_state == XCB_MAP_STATE_VIEWABLE;
            // Unmanaged windows that are not mapped are the invisible helpers every toolkit keeps.
            if (!w.managed && !viewable)
                continue;
            const bool hidden =
                std::find(states.begin(), states.end(), atoms[NET_WM_STATE_HIDDEN]) != states.end();
            info.onScreen = viewable && !hidden;
            if (onScreenOnly && !info.onScreen)
                continue;

            info.kind = kindOf(types, attributes->override_redirect);
            if (excludeDesktopElements && info.kind == WindowInfo::Kind::Desktop)
                continue;

            const std::optional<uint32_t> opacity = ownOpacity ? ownOpacity : frameOpacity;
            info.alpha = opacity ? float(double(*opacity) / double(0xffffffffu)) : 1.0f;
            const int border = geometry->border_width;
            const QRect native(geometry->x, geometry->y, geometry->width + 2 * border,
                               geometry->height + 2 * border);
            info.bounds = pointsRectForNative(native, screenList);
            out.push_back(std::move(info));
        }
        return out;
    }

    // The rectangle createImageOfWindow shows, in root pixels: a client's frame, or the window itself.
    std::optional<QRect> windowRect(uint32_t number) {
        xcb_generic_error_t* error = nullptr;
        Reply<xcb_query_tree_reply_t> tree(xcb_query_tree_reply(c, xcb_query_tree(c, number), &error));
        if (!tree) {
            logLine(QStringLiteral("there is no window %1 (error %2)")
                        .arg(hexId(number))
                        .arg(error ? error->error_code : 0));
            std::free(error);
            return std::nullopt;
        }
        if (number == root)
            return rootRect();
        xcb_window_t shown = number;
        const std::vector<uint32_t> netState = values32(requestProperty(number, NET_WM_STATE, 64));
        if (std::find(netState.begin(), netState.end(), atoms[NET_WM_STATE_HIDDEN]) != netState.end()) {
            logLine(QStringLiteral("window %1 is minimised").arg(hexId(number)));
            return std::nullopt;
        }
        if (tree->parent != root) {
            // A managed client shows as its frame; WM_STATE is what the window manager puts on them.
            const auto state = propertyReply(requestProperty(number, WM_STATE));
            if (state && state->type != XCB_NONE) {
                const auto top = topLevels({number}, {});
                if (auto it = top.find(number); it != top.end())
                    shown = it->second;
            }
        }
        Reply<xcb_get_window_attributes_reply_t> attributes(
            xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, shown), nullptr));
        Reply<xcb_get_geometry_reply_t> geometry(
            xcb_get_geometry_reply(c, xcb_get_geometry(c, shown), nullptr));
        Reply<xcb_translate_coordinates_reply_t> position(
            xcb_translate_coordinates_reply(c, xcb_translate_coordinates(c, shown, root, 0, 0), nullptr));
        if (!attributes || !geometry || !position) {
            logLine(QStringLiteral("window %1 vanished while it was being imaged").arg(hexId(number)));
            return std::nullopt;
        }
        if (attributes->map_state != XCB_MAP_STATE_VIEWABLE ||
            attributes->_class == XCB_WINDOW_CLASS_INPUT_ONLY) {
            logLine(QStringLiteral("window %1 is not on screen").arg(hexId(number)));
            return std::nullopt;
        }
        // translate_coordinates gives the inside corner; the border lies around it.
        const int border = geometry->border_width;
        return QRect(position->dst_x - border, position->dst_y - border, geometry->width + 2 * border,
                     geometry->height + 2 * border);
    }
};

WindowServer::WindowServer(std::unique_ptr<Private> p) : d(std::move(p)) {}
WindowServer::~WindowServer() = default;

std::unique_ptr<WindowServer> WindowServer::connect() {
    return connect(Options());
}

std::unique_ptr<WindowServer> WindowServer::connect(const Options& options) {
    int screenNumber = 0;
    std::unique_ptr<xcb_connection_t, ConnectionDeleter> connection(xcb_connect(nullptr, &screenNumber));
    if (!connection || xcb_connection_has_error(connection.get())) {
        const QByteArray display = qgetenv("DISPLAY");
        logLine(
            QStringLiteral("cannot connect to the X display \"%1\"").arg(QString::fromLocal8Bit(display)));
        return nullptr;
    }
    auto p = std::make_unique<Private>();
    p->c = connection.get();
    p->connection = std::move(connection);

    const xcb_screen_t* screen = nullptr;
    auto it = xcb_setup_roots_iterator(xcb_get_setup(p->c));
    for (int i = 0; it.rem; ++i, xcb_screen_next(&it))
        if (i == screenNumber)
            screen = it.data;
    if (!screen) {
        logLine(QStringLiteral("the X display has no screen %1").arg(screenNumber));
        return nullptr;
    }
    p->root = screen->root;
    p->checkPixelFormat(screen);
    p->internAtoms();
    const bool noShm = qEnvironmentVariableIntValue("GLIMRA_X11_NO_SHM") != 0;
    p->checkExtensions(options.useSharedMemory && !noShm);
    return std::unique_ptr<WindowServer>(new WindowServer(std::move(p)));
}

QImage WindowServer::createImage(const QRectF& rect) {
    if (!d->ready("An image of a rectangle"))
        return QImage();
    QString whyNot;
    const std::optional<GrabPlan> plan = planGrabOfPoints(rect, d->screens(), &whyNot);
    if (!plan) {
        logLine(QStringLiteral("no image of the rectangle (%1, %2, %3 x %4): %5")
                    .arg(rect.x())
                    .arg(rect.y())
                    .arg(rect.width())
                    .arg(rect.height())
                    .arg(whyNot));
        return QImage();
    }
    return d->grab(*plan);
}

QImage WindowServer::createImageOfScreen(const QScreen* screen) {
    const QRectF bounds = displayBounds(screen);
    return bounds.isEmpty() ? QImage() : createImage(bounds);
}

QImage WindowServer::createImageOfAllScreens() {
    if (!d->ready("An image of all screens"))
        return QImage();
    const QRectF box = boundingRectInPoints(d->screens());
    if (box.isEmpty()) {
        logLine(QStringLiteral("no image of all screens: there are no screens"));
        return QImage();
    }
    return createImage(box);
}

QImage WindowServer::createImageOfWindow(uint32_t windowNumber) {
    if (!d->ready("An image of a window"))
        return QImage();
    if (windowNumber == XCB_NONE) {
        logLine(QStringLiteral("no image of window 0: there is no such window"));
        return QImage();
    }
    const std::optional<QRect> rect = d->windowRect(windowNumber);
    if (!rect)
        return QImage();
    QString whyNot;
    const std::optional<GrabPlan> plan = planGrabOfNative(*rect, d->screens(), &whyNot);
    if (!plan) {
        logLine(QStringLiteral("no image of window %1: %2").arg(hexId(windowNumber), whyNot));
        return QImage();
    }
    return d->grab(*plan);
}

std::optional<std::vector<WindowInfo>> WindowServer::copyWindowInfo(bool onScreenOnly,
                                                                    bool excludeDesktopElements) {
    if (!d->ready("The window list"))
        return std::nullopt;
    return d->windowList(onScreenOnly, excludeDesktopElements);
}

QRectF WindowServer::displayBounds(const QScreen* screen) const {
    if (!screen || !qGuiApp || !QGuiApplication::screens().contains(const_cast<QScreen*>(screen))) {
        logLine(QStringLiteral("no bounds for a screen the application does not know"));
        return QRectF();
    }
    return QRectF(screen->geometry()).translated(-globalDisplayOrigin());
}

std::vector<ScreenGeometry> WindowServer::screens() const {
    if (!d->ready("The screen list"))
        return {};
    return d->screens();
}

QPointF WindowServer::globalDisplayOrigin() {
    const QScreen* primary = qGuiApp ? QGuiApplication::primaryScreen() : nullptr;
    return primary ? QPointF(primary->geometry().topLeft()) : QPointF();
}

bool WindowServer::usesSharedMemory() const {
    return d->shmAvailable;
}

void WindowServer::warmUp() {
    if (!d->ready("Preparing for grabs"))
        return;
    const std::vector<ScreenGeometry> screens = d->screens();
    const std::optional<GrabPlan> plan = planGrabOfPoints(boundingRectInPoints(screens), screens);
    if (!plan)
        return;
    d->pool.prepare(std::size_t(plan->size.width()) * std::size_t(plan->size.height()) * 4);
    if (!d->shmAvailable)
        return;
    // The segment for the largest screen, faulted in by the server while the caller goes on.
    QRect largest;
    for (const GrabPiece& piece : plan->pieces)
        if (qint64(piece.source.width()) * piece.source.height() > qint64(largest.width()) * largest.height())
            largest = piece.source;
    if (largest.isEmpty())
        return;
    const std::size_t rowBytes = std::size_t(largest.width()) * 4;
    largest.setHeight(int(std::min<std::size_t>(std::size_t(largest.height()), kShmMaxBytes / rowBytes)));
    if (d->ensureSegment(rowBytes * std::size_t(largest.height())))
        d->prime(largest);
}

} // namespace glimra::x11
