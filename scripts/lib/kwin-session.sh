# Shared shell functions: a private headless KWin session for tests, on the machinery of
# wayland-session.sh (the unprivileged user, the private bus, stopping by PID). Sourced by
# scripts/with-session.
#
# The session: KWin 5.27 with one virtual output (no wallpaper: KWin alone draws none, so tests show a
# full-screen window of known pixels), XDG_DATA_HOME a folder of the session's own (desktop entries that
# KWin reads to authorize callers go to its applications/), and on a private session bus the desktop
# portal with its KDE backend.

. "$(dirname "${BASH_SOURCE[0]}")/wayland-session.sh"

# The mode of the one output, Virtual-0, in device pixels at every scale.
GLIMRA_KWIN_OUTPUT=1920x1080

# Starts the session with its output at SCALE (1 when empty; any at which the mode's sides make whole
# points) and exports what glimra_wayland_session_start does (GLIMRA_WAYLAND_OUTPUTS,
# GLIMRA_WAYLAND_DIR; no wallpapers), with XDG_CURRENT_DESKTOP=KDE and XDG_DATA_HOME.
glimra_kwin_session_start() {
  local started="$EPOCHREALTIME" size="$GLIMRA_KWIN_OUTPUT" scale="${1:-1}" points
  # KDE's portal backend is a Qt 5 program: without Qt 5's Wayland plugin it aborts at start.
  glimra_require "the KWin session" "${GLIMRA_WAYLAND_NEEDS[@]}" "kwin_wayland kwin-wayland" \
    "/usr/lib/*/libexec/xdg-desktop-portal-kde xdg-desktop-portal-kde" \
    "/usr/lib/*/qt5/plugins/platforms/libqwayland-generic.so qtwayland5 Qt 5's Wayland plugin for KDE's portal backend" ||
    return 1
  # KWin takes the output's size in points: the mode is that times the scale.
  points="$(_glimra_wayland_points "$size" "$scale")" || return 1
  _glimra_wayland_begin || return 1
  local d="$GLIMRA_WAYLAND_DIR"
  mkdir -p "$d/data/applications" "$d/config" "$d/cache" "$d/bin" || return 1
  export XDG_DATA_HOME="$d/data" XDG_CONFIG_HOME="$d/config" XDG_CACHE_HOME="$d/cache"
  export XDG_SESSION_TYPE=wayland XDG_CURRENT_DESKTOP=KDE KDE_FULL_SESSION=true KDE_SESSION_VERSION=5
  _glimra_wayland_bus_start session || return 1
  # The installed binary carries cap_sys_resource, which some sandboxes refuse to execute; a copy has
  # none and keeps the name KWin goes by.
  cp /usr/bin/kwin_wayland "$d/bin/kwin_wayland" || return 1
  _glimra_wayland_bus_wait session DBUS_SESSION_BUS_ADDRESS || return 1
  # KWin shows its restricted Wayland interfaces (the fake input that tests type with) only to
  # programs its desktop entries name; ScreenShot2's own check stays in force.
  KWIN_WAYLAND_NO_PERMISSION_CHECKS=1 _glimra_wayland_spawn kwin \
    "$d/bin/kwin_wayland" --virtual --no-lockscreen --no-global-shortcuts --socket wayland-0 \
    --width "${points%x*}" --height "${points#*x}" --scale "$scale"
  _glimra_wayland_until 100 test -S "$XDG_RUNTIME_DIR/wayland-0" ||
    { _glimra_wayland_log "KWin did not start"; cat "$d/kwin.log" >&2; return 1; }
  export WAYLAND_DISPLAY=wayland-0 QT_QPA_PLATFORM=wayland
  _glimra_wayland_await_name org.kde.KWin 100 kwin || return 1
  # Without Plasma's workspace (hundreds of packages) its screenshot dialog has no QML to load, and the
  # KDE backend crashes on a screenshot request: the session's job report then shows a segmentation
  # fault of portal-kde. The tests ask it only which road a refused program is sent down.
  _glimra_wayland_spawn portal-kde /usr/lib/x86_64-linux-gnu/libexec/xdg-desktop-portal-kde
  _glimra_wayland_await_name org.freedesktop.impl.portal.desktop.kde 100 portal-kde || return 1
  _glimra_wayland_spawn portal /usr/libexec/xdg-desktop-portal
  _glimra_wayland_await_name org.freedesktop.portal.Desktop 100 portal || return 1
  export GLIMRA_WAYLAND_OUTPUTS="Virtual-0:$size@$scale,normal+0,0:$points" GLIMRA_WAYLAND_DIR
  _glimra_wayland_ready "$started" "KWin ($GLIMRA_WAYLAND_OUTPUTS), the portal"
}
