# Shared shell functions: a private headless GNOME Shell session for tests, on the machinery of
# wayland-session.sh (the unprivileged user, private buses, wallpapers of known pixels, stopping by PID).
# Sourced by scripts/with-session.
#
# The session: GNOME Shell 43 headless with one virtual monitor and no XWayland; a private system bus
# beside the private session bus; settings in a key file of the session's own (no dconf), which shows
# the wallpaper pixel for pixel; a small extension of the session's own that leaves the overview shown
# at start-up and hides the top bar, so the monitor shows nothing but the wallpaper; the desktop portal
# with its GNOME backend, the permission store seeded so that screenshots need no dialog.

. "$(dirname "${BASH_SOURCE[0]}")/wayland-session.sh"

# WIDTHxHEIGHT of the one monitor, Meta-0.
GLIMRA_GNOME_MONITOR=1920x1080
GLIMRA_GNOME_EXTENSION=glimra-test-session@glimra.app

_glimra_gnome_extension() {
  local dir="$1/gnome-shell/extensions/$GLIMRA_GNOME_EXTENSION"
  mkdir -p "$dir" || return 1
  cat >"$dir/metadata.json" <<JSON
{"uuid": "$GLIMRA_GNOME_EXTENSION", "name": "Glimra test session", "shell-version": ["43"],
 "description": "A bare desktop for tests: no top bar, no overview at start-up."}
JSON
  cat >"$dir/extension.js" <<'JS'
const Main = imports.ui.main;
let panelHider = 0;

function init() {}

function enable() {
    // The top bar is chrome whose visibility the shell sets again whenever the overview comes or goes.
    const panel = Main.layoutManager.panelBox;
    panel.hide();
    panelHider = panel.connect('notify::visible', () => panel.visible && panel.hide());
    if (Main.layoutManager._startingUp)
        Main.layoutManager.connect('startup-complete', () => Main.overview.hide());
}

function disable() {
    Main.layoutManager.panelBox.disconnect(panelHider);
    Main.layoutManager.panelBox.show();
}
JS
}

_glimra_gnome_settings() {
  local file="$1/glib-2.0/settings/keyfile" wallpaper="$2"
  mkdir -p "${file%/*}" || return 1
  cat >"$file" <<INI
[org/gnome/desktop/background]
picture-uri='file://$wallpaper'
picture-uri-dark='file://$wallpaper'
picture-options='centered'
primary-color='#000000'
color-shading-type='solid'

[org/gnome/desktop/interface]
enable-animations=false

[org/gnome/shell]
enabled-extensions=['$GLIMRA_GNOME_EXTENSION']
welcome-dialog-last-shown-version='999'

[org/gnome/desktop/notifications]
show-banners=false

[org/gnome/desktop/session]
idle-delay=uint32 0

[org/gnome/desktop/screensaver]
lock-enabled=false
idle-activation-enabled=false
INI
}

# Starts the session and exports WAYLAND_DISPLAY, XDG_RUNTIME_DIR, DBUS_SESSION_BUS_ADDRESS,
# DBUS_SYSTEM_BUS_ADDRESS, XDG_SESSION_TYPE, XDG_CURRENT_DESKTOP=GNOME, QT_QPA_PLATFORM,
# GSETTINGS_BACKEND, XDG_DATA_HOME, XDG_CONFIG_HOME, and for tests GLIMRA_WAYLAND_OUTPUTS,
# GLIMRA_WAYLAND_WALLPAPERS (Meta-0.png) and GLIMRA_WAYLAND_DIR.
glimra_gnome_session_start() {
  local started="$EPOCHREALTIME" size="${1:-$GLIMRA_GNOME_MONITOR}"
  _glimra_wayland_begin || return 1
  local d="$GLIMRA_WAYLAND_DIR" wallpaper
  # From the user's cache of pictures, before the session's own folders take its place.
  wallpaper="$(_glimra_wayland_wallpaper "$size" 1)" || { _glimra_wayland_log "cannot make a wallpaper"; return 1; }
  mkdir -p "$d/data" "$d/config" "$d/cache" "$d/pictures" || return 1
  export XDG_DATA_HOME="$d/data" XDG_CONFIG_HOME="$d/config" XDG_CACHE_HOME="$d/cache"
  export XDG_PICTURES_DIR="$d/pictures"
  export XDG_SESSION_TYPE=wayland XDG_CURRENT_DESKTOP=GNOME GSETTINGS_BACKEND=keyfile
  _glimra_wayland_bus_start session && _glimra_wayland_bus_start system || return 1
  cp "$wallpaper" "$d/wallpapers/Meta-0.png" || return 1
  _glimra_gnome_settings "$d/config" "$d/wallpapers/Meta-0.png" && _glimra_gnome_extension "$d/data" || return 1
  _glimra_wayland_bus_wait session DBUS_SESSION_BUS_ADDRESS &&
    _glimra_wayland_bus_wait system DBUS_SYSTEM_BUS_ADDRESS || return 1
  _glimra_wayland_spawn gnome-shell gnome-shell --headless --wayland --no-x11 --wayland-display wayland-0 \
    --virtual-monitor "$size"
  _glimra_wayland_await_name org.gnome.Shell.Screenshot 300 gnome-shell || return 1
  export WAYLAND_DISPLAY=wayland-0 QT_QPA_PLATFORM=wayland
  # The portal asks before the first screenshot unless the permission store already says yes.
  _glimra_wayland_spawn permission-store /usr/libexec/xdg-permission-store
  _glimra_wayland_await_name org.freedesktop.impl.portal.PermissionStore 100 permission-store || return 1
  gdbus call --session --dest org.freedesktop.impl.portal.PermissionStore \
    --object-path /org/freedesktop/impl/portal/PermissionStore \
    --method org.freedesktop.impl.portal.PermissionStore.SetPermission screenshot true screenshot "" "['yes']" \
    >/dev/null || { _glimra_wayland_log "cannot grant the screenshot permission"; return 1; }
  _glimra_wayland_spawn portal-gnome /usr/libexec/xdg-desktop-portal-gnome
  _glimra_wayland_await_name org.freedesktop.impl.portal.desktop.gnome 100 portal-gnome || return 1
  _glimra_wayland_spawn portal /usr/libexec/xdg-desktop-portal
  _glimra_wayland_await_name org.freedesktop.portal.Desktop 100 portal || return 1
  export GLIMRA_WAYLAND_OUTPUTS="$size@1" GLIMRA_WAYLAND_WALLPAPERS="$d/wallpapers" GLIMRA_WAYLAND_DIR
  _glimra_wayland_ready "$started" "GNOME Shell ($GLIMRA_WAYLAND_OUTPUTS), the portal"
}
