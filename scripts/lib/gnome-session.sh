# Shared shell functions: a private headless GNOME Shell session for tests, on the machinery of
# wayland-session.sh (the unprivileged user, private buses, wallpapers of known pixels, stopping by PID).
# Sourced by scripts/with-session.
#
# The session: GNOME Shell 43 headless with one virtual monitor and no XWayland; a private system bus
# beside the private session bus; settings in a key file of the session's own (no dconf), which shows
# the wallpaper pixel for pixel; a small extension of the session's own that leaves the overview shown
# at start-up and hides the top bar, so the monitor shows nothing but the wallpaper, and says on the
# bus when the shell has started up; PipeWire for Mutter's screen casts (the tests' pointer input); the
# desktop portal with its GNOME backend, the permission store seeded so that screenshots need no dialog.

. "$(dirname "${BASH_SOURCE[0]}")/wayland-session.sh"

# The mode of the one monitor, Meta-0, in device pixels at every scale.
GLIMRA_GNOME_MONITOR=1920x1080
GLIMRA_GNOME_EXTENSION=glimra-test-session@glimra.app
# Owned on the session bus by the session's extension once the shell has started up.
GLIMRA_GNOME_STARTED=app.glimra.TestSession.ShellStarted

_glimra_gnome_extension() {
  local dir="$1/gnome-shell/extensions/$GLIMRA_GNOME_EXTENSION"
  mkdir -p "$dir" || return 1
  cat >"$dir/metadata.json" <<JSON
{"uuid": "$GLIMRA_GNOME_EXTENSION", "name": "Glimra test session", "shell-version": ["43"],
 "description": "A bare desktop for tests: no top bar, no overview at start-up."}
JSON
  echo "const startedName = '$GLIMRA_GNOME_STARTED';" >"$dir/extension.js"
  cat >>"$dir/extension.js" <<'JS'
const Gio = imports.gi.Gio;
const Main = imports.ui.main;
let panelHider = 0;
let startedOwner = 0;

function init() {}

// Until the shell's startup ends, a cover over the whole stage takes every pointer event; and a change
// of the monitors before then (the session's scale) can stall the startup for good, waiting for
// backgrounds that the change replaced. The session waits for this name before it goes on.
function started() {
    startedOwner = Gio.bus_own_name(Gio.BusType.SESSION, startedName, Gio.BusNameOwnerFlags.NONE, null, null, null);
}

function enable() {
    // The top bar is chrome whose visibility the shell sets again whenever the overview comes or goes.
    const panel = Main.layoutManager.panelBox;
    panel.hide();
    panelHider = panel.connect('notify::visible', () => panel.visible && panel.hide());
    if (!Main.layoutManager._startingUp) {
        started();
        return;
    }
    Main.layoutManager.connect('startup-complete', () => {
        Main.overview.hide();
        started();
    });
}

function disable() {
    Main.layoutManager.panelBox.disconnect(panelHider);
    Main.layoutManager.panelBox.show();
    if (startedOwner)
        Gio.bus_unown_name(startedOwner);
    startedOwner = 0;
}
JS
}

_glimra_gnome_settings() {
  local file="$1/glib-2.0/settings/keyfile" wallpaper="$2" features="$3"
  mkdir -p "${file%/*}" || return 1
  cat >"$file" <<INI
[org/gnome/mutter]
experimental-features=[$features]

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

_glimra_gnome_display_config() {
  gdbus call --session --dest org.gnome.Mutter.DisplayConfig --object-path /org/gnome/Mutter/DisplayConfig \
    --method "org.gnome.Mutter.DisplayConfig.$@"
}

# Puts the monitor at SCALE, through Mutter's display configuration (the virtual monitor has no scale
# option), and waits until Mutter says it is in effect.
_glimra_gnome_scale() {
  local scale="$1" state serial mode
  state="$(_glimra_gnome_display_config GetCurrentState)" || return 1
  serial="$(echo "$state" | sed -n 's/^(uint32 \([0-9]*\),.*/\1/p')"
  mode="$(echo "$state" | grep -o "('[0-9]*x[0-9]*@[0-9.]*'" | head -n1 | tr -d "('")"
  _glimra_gnome_display_config ApplyMonitorsConfig "$serial" 1 \
    "[(0, 0, $scale, uint32 0, true, [('Meta-0', '$mode', @a{sv} {})])]" "@a{sv} {}" >/dev/null || return 1
  _glimra_wayland_until 50 eval '_glimra_gnome_display_config GetCurrentState | grep -Eq "\[\(0, 0, $scale(\.0)?, "'
}

# Starts the session and exports WAYLAND_DISPLAY, XDG_RUNTIME_DIR, DBUS_SESSION_BUS_ADDRESS,
# DBUS_SYSTEM_BUS_ADDRESS, XDG_SESSION_TYPE, XDG_CURRENT_DESKTOP=GNOME, QT_QPA_PLATFORM,
# GSETTINGS_BACKEND, XDG_DATA_HOME, XDG_CONFIG_HOME, and for tests GLIMRA_WAYLAND_OUTPUTS,
# GLIMRA_WAYLAND_WALLPAPERS (Meta-0.png) and GLIMRA_WAYLAND_DIR.
glimra_gnome_session_start() {
  local started="$EPOCHREALTIME" size="$GLIMRA_GNOME_MONITOR" scale="${1:-1}" points features=""
  points="$(_glimra_wayland_points "$size" "$scale")" || return 1
  # Mutter offers fractional scales only with its monitors' framebuffers scaled (layout mode 1,
  # logical, in place of 2, physical).
  awk -v s="$scale" 'BEGIN { exit s == int(s) }' && features="'scale-monitor-framebuffer'"
  local program
  for program in gnome-shell pipewire; do
    command -v "$program" >/dev/null ||
      { _glimra_wayland_log "$program is missing (package $program; scripts/test installs it)"; return 1; }
  done
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
  _glimra_gnome_settings "$d/config" "$d/wallpapers/Meta-0.png" "$features" && _glimra_gnome_extension "$d/data" || return 1
  _glimra_wayland_bus_wait session DBUS_SESSION_BUS_ADDRESS &&
    _glimra_wayland_bus_wait system DBUS_SYSTEM_BUS_ADDRESS || return 1
  # Mutter's screen casts, through which tests move the pointer to places, need PipeWire.
  XDG_STATE_HOME="$d/state" _glimra_wayland_spawn pipewire pipewire
  _glimra_wayland_spawn gnome-shell gnome-shell --headless --wayland --no-x11 --wayland-display wayland-0 \
    --virtual-monitor "$size"
  _glimra_wayland_await_name "$GLIMRA_GNOME_STARTED" 300 gnome-shell || return 1
  _glimra_wayland_until 50 test -S "$XDG_RUNTIME_DIR/pipewire-0" ||
    { _glimra_wayland_log "PipeWire did not start"; cat "$d/pipewire.log" >&2; return 1; }
  export WAYLAND_DISPLAY=wayland-0 QT_QPA_PLATFORM=wayland
  if [ "$scale" != 1 ]; then
    _glimra_gnome_scale "$scale" || { _glimra_wayland_log "GNOME Shell did not take scale $scale"; return 1; }
  fi
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
  export GLIMRA_WAYLAND_OUTPUTS="Meta-0:$size@$scale,normal+0,0:$points" GLIMRA_WAYLAND_WALLPAPERS="$d/wallpapers" GLIMRA_WAYLAND_DIR
  _glimra_wayland_ready "$started" "GNOME Shell ($GLIMRA_WAYLAND_OUTPUTS), the portal"
}
