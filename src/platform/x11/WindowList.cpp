#include "x11/WindowList.h"

#include "display/DisplayGeometry.h"
#include "x11/ScreenList.h"
#include "x11/XcbConnection.h"

#include <algorithm>
#include <cstring>

namespace glimra::x11 {

namespace {

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

struct Candidate {
    xcb_window_t client;
    xcb_window_t frame;
    bool managed;
};

} // namespace

WindowList::WindowList(XcbConnection& connection, ScreenList& screens)
    : x_(connection), screens_(screens), atoms_(AtomCount, XCB_NONE) {
    xcb_connection_t* c = x_.get();
    xcb_intern_atom_cookie_t cookies[AtomCount];
    for (int i = 0; i < AtomCount; ++i)
        cookies[i] = xcb_intern_atom(c, 0, uint16_t(std::strlen(kAtomNames[i])), kAtomNames[i]);
    for (int i = 0; i < AtomCount; ++i) {
        Reply<xcb_intern_atom_reply_t> r(xcb_intern_atom_reply(c, cookies[i], nullptr));
        atoms_[std::size_t(i)] = r ? r->atom : XCB_NONE;
    }
}

bool WindowList::hidden(const std::vector<uint32_t>& states) const {
    return std::find(states.begin(), states.end(), atoms_[NET_WM_STATE_HIDDEN]) != states.end();
}

// The window manager's check window names itself too; a stale property left by a window manager that
// died does not.
bool WindowList::windowManagerRuns() {
    const xcb_atom_t check = atoms_[NET_SUPPORTING_WM_CHECK];
    const std::optional<uint32_t> window = x_.cardinal(x_.requestProperty(x_.root(), check));
    if (!window || *window == XCB_NONE)
        return false;
    const std::optional<uint32_t> self = x_.cardinal(x_.requestProperty(*window, check));
    return self && *self == *window;
}

std::optional<std::vector<uint32_t>> WindowList::rootChildren() {
    xcb_connection_t* c = x_.get();
    xcb_generic_error_t* error = nullptr;
    Reply<xcb_query_tree_reply_t> r(xcb_query_tree_reply(c, xcb_query_tree(c, x_.root()), &error));
    if (!r) {
        logLine(QStringLiteral("the root window's children cannot be read (error %1)")
                    .arg(error ? error->error_code : 0));
        std::free(error);
        return std::nullopt;
    }
    const xcb_window_t* children = xcb_query_tree_children(r.get());
    return std::vector<uint32_t>(children, children + xcb_query_tree_children_length(r.get()));
}

// The root's child that holds each window: its frame when a window manager reparented it, else the
// window itself. Windows that are gone are left out.
std::unordered_map<uint32_t, uint32_t> WindowList::topLevels(const std::vector<uint32_t>& windows,
                                                             const std::unordered_set<uint32_t>& children) {
    xcb_connection_t* c = x_.get();
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
            if (r->parent == x_.root())
                top[open[i].first] = open[i].second;
            else
                still.push_back({open[i].first, r->parent});
        }
        open = std::move(still);
    }
    return top;
}

// The first standard type decides; vendor types (Qt puts _KDE_NET_WM_WINDOW_TYPE_OVERRIDE first) are
// passed over. Without a type a managed window is normal, an override-redirect one is not.
WindowInfo::Kind WindowList::kindOf(const std::vector<uint32_t>& types, bool overrideRedirect) const {
    for (uint32_t t : types) {
        if (t == atoms_[NET_WM_WINDOW_TYPE_DESKTOP])
            return WindowInfo::Kind::Desktop;
        if (t == atoms_[NET_WM_WINDOW_TYPE_DOCK])
            return WindowInfo::Kind::Dock;
        if (t == atoms_[NET_WM_WINDOW_TYPE_NORMAL] || t == atoms_[NET_WM_WINDOW_TYPE_DIALOG])
            return WindowInfo::Kind::Normal;
        if (std::find(atoms_.begin() + FirstOtherType, atoms_.end(), t) != atoms_.end())
            return WindowInfo::Kind::Other;
    }
    return overrideRedirect ? WindowInfo::Kind::Other : WindowInfo::Kind::Normal;
}

std::optional<std::vector<WindowInfo>> WindowList::read(bool onScreenOnly, bool excludeDesktopElements) {
    const std::optional<std::vector<uint32_t>> children = rootChildren();
    if (!children)
        return std::nullopt;
    xcb_connection_t* c = x_.get();
    const xcb_window_t root = x_.root();

    // Front to back, as the root's children stack from the bottom up.
    std::vector<Candidate> candidates;
    std::vector<uint32_t> clients;
    if (windowManagerRuns()) {
        clients = x_.values32(x_.requestProperty(root, atoms_[NET_CLIENT_LIST_STACKING], 65536));
        if (clients.empty())
            clients = x_.values32(x_.requestProperty(root, atoms_[NET_CLIENT_LIST], 65536));
    }
    if (!clients.empty()) {
        const std::unordered_set<uint32_t> childSet(children->begin(), children->end());
        const auto top = topLevels(clients, childSet);
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
        requests.push_back({xcb_get_window_attributes(c, w.frame), xcb_get_geometry(c, w.frame),
                            x_.requestProperty(w.client, atoms_[NET_WM_NAME], 4096),
                            x_.requestProperty(w.client, XCB_ATOM_WM_NAME, 4096),
                            x_.requestProperty(w.client, atoms_[NET_WM_PID]),
                            x_.requestProperty(w.client, atoms_[NET_WM_WINDOW_OPACITY]),
                            x_.requestProperty(w.frame, atoms_[NET_WM_WINDOW_OPACITY]),
                            x_.requestProperty(w.client, atoms_[NET_WM_WINDOW_TYPE], 64),
                            x_.requestProperty(w.client, atoms_[NET_WM_STATE], 64)});

    const std::vector<ScreenGeometry> screenList = screens_.current();
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
        info.name = x_.text(q.netName);
        const QString wmName = x_.text(q.wmName);
        if (info.name.isEmpty())
            info.name = wmName;
        info.ownerPid = x_.cardinal(q.pid).value_or(0);
        const std::optional<uint32_t> ownOpacity = x_.cardinal(q.opacity);
        const std::optional<uint32_t> frameOpacity = x_.cardinal(q.frameOpacity);
        const std::vector<uint32_t> types = x_.values32(q.type);
        const std::vector<uint32_t> states = x_.values32(q.state);

        if (!attributes || !geometry) {
            if (w.managed)
                logLine(
                    QStringLiteral("window %1 vanished while the window list was read").arg(hexId(w.client)));
            continue;
        }
        if (attributes->_class == XCB_WINDOW_CLASS_INPUT_ONLY)
            continue;
        const bool viewable = attributes->map_state == XCB_MAP_STATE_VIEWABLE;
        // Unmanaged windows that are not mapped are the invisible helpers every toolkit keeps.
        if (!w.managed && !viewable)
            continue;
        info.onScreen = viewable && !hidden(states);
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

std::optional<WindowList::Shown> WindowList::shown(uint32_t number) {
    xcb_connection_t* c = x_.get();
    const xcb_window_t root = x_.root();
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
        return Shown{root, x_.rootRect()};
    xcb_window_t shown = number;
    if (hidden(x_.values32(x_.requestProperty(number, atoms_[NET_WM_STATE], 64)))) {
        logLine(QStringLiteral("window %1 is minimised").arg(hexId(number)));
        return std::nullopt;
    }
    if (tree->parent != root) {
        // A managed client shows as its frame; WM_STATE is what the window manager puts on them.
        const auto state = x_.propertyReply(x_.requestProperty(number, atoms_[WM_STATE]));
        if (state && state->type != XCB_NONE) {
            const auto top = topLevels({number}, {});
            if (auto it = top.find(number); it != top.end())
                shown = it->second;
        }
    }
    Reply<xcb_get_window_attributes_reply_t> attributes(
        xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, shown), nullptr));
    Reply<xcb_get_geometry_reply_t> geometry(xcb_get_geometry_reply(c, xcb_get_geometry(c, shown), nullptr));
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
    return Shown{shown, QRect(position->dst_x - border, position->dst_y - border,
                              geometry->width + 2 * border, geometry->height + 2 * border)};
}

} // namespace glimra::x11
