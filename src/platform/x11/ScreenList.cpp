#include "x11/ScreenList.h"

#include "display/WindowServer.h"

#include "x11/XcbConnection.h"

#include <QGuiApplication>

#include <xcb/randr.h>

#include <algorithm>

namespace glimra::x11 {

ScreenList::ScreenList(XcbConnection& connection, bool fromQt) : x_(connection), fromQt_(fromQt) {
    xcb_connection_t* c = x_.get();
    const xcb_query_extension_reply_t* randrExt = xcb_get_extension_data(c, &xcb_randr_id);
    if (randrExt && randrExt->present) {
        Reply<xcb_randr_query_version_reply_t> v(
            xcb_randr_query_version_reply(c, xcb_randr_query_version(c, 1, 5), nullptr));
        randrMonitors_ = v && (v->major_version > 1 || v->minor_version >= 5);
    }
}

std::vector<ScreenList::Monitor> ScreenList::monitors() {
    std::vector<Monitor> out;
    if (!randrMonitors_)
        return out;
    xcb_connection_t* c = x_.get();
    Reply<xcb_randr_get_monitors_reply_t> r(
        xcb_randr_get_monitors_reply(c, xcb_randr_get_monitors(c, x_.root(), 1), nullptr));
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
            out[i].name =
                QString::fromUtf8(xcb_get_atom_name_name(n.get()), xcb_get_atom_name_name_length(n.get()));
    }
    return out;
}

std::vector<ScreenGeometry> ScreenList::current() {
    const QRect root = x_.rootRect();
    const std::vector<Monitor> mons = monitors();
    std::vector<ScreenGeometry> out;
    if (fromQt_ && qGuiApp && QGuiApplication::primaryScreen()) {
        // Qt knows each screen's scale and its points; the monitor of the same name knows where its
        // pixels are. Without such a monitor Qt's own rule (origin kept, size scaled) stands in.
        out = glimra::WindowServer::qtScreens([&](const QString& name, const QRect& logical, qreal scale) {
            const auto m =
                std::find_if(mons.begin(), mons.end(), [&](const Monitor& m) { return m.name == name; });
            return m != mons.end() ? m->native
                                   : QRect(logical.topLeft(), (QSizeF(logical.size()) * scale).toSize());
        });
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

} // namespace glimra::x11
