# Shared shell functions: package installation and a private headless X11 desktop session (the
# Wayland one is in wayland-session.sh). Sourced by scripts/demo, scripts/test and scripts/with-session.

GLIMRA_BUILD_PACKAGES="cmake g++ ninja-build pkg-config git qt6-base-dev qt6-base-dev-tools qt6-tools-dev
  qt6-l10n-tools libxcb-shm0-dev libxcb-randr0-dev libxcb-xfixes0-dev libxcb-keysyms1-dev
  libxcb-ewmh-dev libxcb-icccm4-dev libxcb-xtest0-dev libxcb-xkb-dev libxcb-xinput-dev libx11-xcb-dev
  libcanberra-dev libdeflate-dev libisal-dev zlib1g-dev libpng-dev libdbus-1-dev libgtest-dev libgmock-dev libxcb-shape0-dev libxcb-composite0-dev scdoc
  dpkg-dev libwayland-dev libwayland-bin wayland-protocols libxkbcommon-dev libxkbcommon-x11-dev plasma-wayland-protocols"
GLIMRA_SESSION_PACKAGES="xvfb openbox dbus dbus-x11 x11-utils x11-xserver-utils x11-xkb-utils xdotool trayer imagemagick
  xauth xdg-utils desktop-file-utils libglib2.0-bin xcompmgr picom qt6-image-formats-plugins appstream
  man-db lintian
  sway swaybg grim qt6-wayland pipewire wireplumber xdg-desktop-portal xdg-desktop-portal-wlr xdg-desktop-portal-gtk
  openssl acl systemd dbus-user-session
  kwin-wayland xdg-desktop-portal-kde qtwayland5 gnome-shell xdg-desktop-portal-gnome"

# Installs whatever of the named packages is missing, with one apt-get run (through sudo when not root).
glimra_install_missing() {
  local missing=() p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing: ${missing[*]}"
  local sudo=()
  if [ "$(id -u)" -ne 0 ]; then
    command -v sudo >/dev/null || { echo "installing packages needs root: run this as root, or install sudo" >&2; return 1; }
    sudo=(sudo)
  fi
  # sudo hands apt-get a clean environment: the front end goes through env.
  "${sudo[@]}" apt-get update -qq &&
    "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

# Says what SESSION (e.g. "the KWin session") needs and this machine lacks, one line each, and fails
# when anything is missing. Each need is "FILE PACKAGE [NAME...]": a program on PATH, or an absolute
# path (a pattern, for the architecture's library folder); the package that brings it; and what to call
# it, FILE's last part when left out.
glimra_require() {
  local session="$1" need file package name missing=0
  shift
  for need in "$@"; do
    read -r file package name <<<"$need"
    case "$file" in
    /*) compgen -G "$file" >/dev/null && continue ;;
    *) command -v "$file" >/dev/null && continue ;;
    esac
    echo "$session needs ${name:-${file##*/}} (package $package)" >&2
    missing=1
  done
  [ "$missing" -eq 0 ] || echo "(scripts/setup installs what is missing)" >&2
  return "$missing"
}

glimra_build() {
  local preset="${1:-default}"
  cmake --preset "$preset" >/dev/null && cmake --build --preset "$preset"
}

# Builds like glimra_build, saying how far it got rather than what it compiles: one line that counts
# up on a terminal, else a line at every tenth. The compiler's output shows only when the build fails.
glimra_build_showing_progress() {
  local preset="${1:-default}" log status line step total percent shown=-1
  log=$(mktemp)
  cmake --preset "$preset" >"$log" 2>&1 || { cat "$log" >&2; rm -f "$log"; return 1; }
  NINJA_STATUS="[%f/%t] " cmake --build --preset "$preset" 2>&1 | tee "$log" | while IFS= read -r line; do
    [[ $line =~ ^\[([0-9]+)/([0-9]+)\]\  ]] || continue
    step=${BASH_REMATCH[1]} total=${BASH_REMATCH[2]}
    percent=$((step * 100 / total))
    if [ -t 1 ]; then
      printf '\r   %3d %% (%d of %d steps)' "$percent" "$step" "$total"
    elif [ $((percent / 10)) -gt "$shown" ]; then
      shown=$((percent / 10))
      printf '   %3d %% (%d of %d steps)\n' "$percent" "$step" "$total"
    fi
  done
  status=${PIPESTATUS[0]}
  [ -t 1 ] && printf '\n'
  if [ "$status" -ne 0 ]; then
    echo "The build failed:" >&2
    tail -n 60 "$log" >&2
  fi
  rm -f "$log"
  return "$status"
}

# ---- A /tmp of one's own ----

# A test session may run in a mount namespace of its own whose /tmp is a fresh tmpfs, so that sessions
# running at once never meet there (xdg-desktop-portal-wlr writes every screenshot to the fixed
# /tmp/out.png) and whatever a session leaves in /tmp goes with it. Its command sees the machine's /tmp no more: files it reads or writes lie elsewhere.

# In such a namespace: covers DIR with a fresh tmpfs of MODE and, when TREE lies below DIR, bind-mounts
# the tree back at its own path (the test programs have absolute paths into it built in) from FD, a
# descriptor of the tree opened before, which still reaches it once it is covered.
glimra_cover() {
  local dir="$1" mode="$2" tree="$3" fd="$4"
  mount -t tmpfs -o "mode=$mode" tmpfs "$dir" || return 1
  # A /tmp as machines have it, with the folder of X servers' sockets, which only root may make.
  [ "$dir" != /tmp ] || mkdir -m 1777 /tmp/.X11-unix || return 1
  case "$tree/" in
  "$dir"/*) (umask 022 && mkdir -p "$tree") && mount --no-canonicalize --bind "/proc/self/fd/$fd" "$tree" ;;
  esac
}

# Runs COMMAND with a /tmp of its own, TREE still at its path, and GLIMRA_OWN_TMP set; replaces the
# calling shell. As root that takes a mount namespace; as any other user, a user namespace (whose root
# may mount) holding a second one that gives the caller back its own user id (sway and GNOME Shell
# refuse root). Where the machine allows neither, it says so and returns: the caller goes on with the
# machine's /tmp.
#   glimra_exec_own_tmp TREE COMMAND...
glimra_exec_own_tmp() {
  local namespaces=(--mount)
  export GLIMRA_OWN_TMP=1
  [ "$(id -u)" -eq 0 ] || namespaces=(--user --map-root-user --mount)
  if ! unshare "${namespaces[@]}" true 2>/dev/null; then
    echo "session: this machine gives no namespace of one's own: the session shares /tmp with every other" >&2
    return 0
  fi
  exec unshare "${namespaces[@]}" --propagation private -- \
    bash -c '. "$0" && _glimra_own_tmp "$@"' "${BASH_SOURCE[0]}" "$(id -u)" "$(id -g)" "$@"
}

# Inside the namespace of glimra_exec_own_tmp, as its root: UID GID TREE COMMAND...
_glimra_own_tmp() {
  local uid="$1" gid="$2" tree="$3" fd
  shift 3
  exec {fd}<"$tree" && glimra_cover /tmp 1777 "$tree" "$fd" || return 1
  exec {fd}<&-
  [ "$uid" -eq 0 ] && exec "$@"
  exec unshare --user --map-user="$uid" --map-group="$gid" -- "$@"
}

# ---- A private headless X11 desktop ----

GLIMRA_SESSION_PIDS=()
GLIMRA_SESSION_DIR=""

# Starts Xvfb (its own display number), a private session bus and openbox, and exports DISPLAY,
# DBUS_SESSION_BUS_ADDRESS, XDG_RUNTIME_DIR and XDG_CACHE_HOME (private folders). Everything started is
# remembered by PID and stopped by glimra_session_stop.
glimra_session_start() {
  local geometry="${1:-1920x1080x24}"
  glimra_require "the X11 session" "Xvfb xvfb" "openbox openbox" "dbus-daemon dbus" "xprop x11-utils" || return 1
  GLIMRA_SESSION_DIR=$(mktemp -d /tmp/glimra-session.XXXXXX)
  local d="$GLIMRA_SESSION_DIR"
  Xvfb -displayfd 3 -screen 0 "$geometry" -nolisten tcp -noreset +extension XTEST \
    3>"$d/display" >"$d/xvfb.log" 2>&1 &
  GLIMRA_SESSION_PIDS+=($!)
  local i
  for i in $(seq 1 100); do [ -s "$d/display" ] && break; sleep 0.05; done
  [ -s "$d/display" ] || { echo "Xvfb did not start" >&2; cat "$d/xvfb.log" >&2; return 1; }
  export DISPLAY=":$(head -n1 "$d/display")"
  # A session bus that starts none of the services installed on this machine: an installed Glimra
  # Helper would answer in place of the one under test. Tests that want activation run a bus of their own.
  sed -e 's|<standard_session_servicedirs */>||' /usr/share/dbus-1/session.conf >"$d/bus.conf"
  dbus-daemon --config-file="$d/bus.conf" --fork --nosyslog --address="unix:path=$d/bus" \
    --print-address=4 --print-pid=5 4>"$d/bus-address" 5>"$d/bus-pid"
  GLIMRA_SESSION_PIDS+=($(cat "$d/bus-pid"))
  export DBUS_SESSION_BUS_ADDRESS="$(head -n1 "$d/bus-address")"
  # No sound card either: event sounds play into ALSA's null device, the same on every machine whatever
  # sound server it has installed. (PipeWire's ALSA plugin, for one, loads and unloads libpipewire,
  # whose leaks at exit LeakSanitizer then cannot even name, let alone suppress.)
  printf 'pcm.!default { type null }\n' >"$d/asound.conf"
  export ALSA_CONFIG_PATH="$d/asound.conf"
  mkdir -m 700 "$d/runtime" && export XDG_RUNTIME_DIR="$d/runtime"
  # What the session's programs cache (openbox its log) goes with the session, not into the home.
  mkdir "$d/cache" && export XDG_CACHE_HOME="$d/cache"
  openbox --sm-disable >"$d/openbox.log" 2>&1 &
  GLIMRA_SESSION_PIDS+=($!)
  for i in $(seq 1 100); do
    xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && break
    sleep 0.05
  done
  export GLIMRA_SESSION_DIR
}

glimra_session_stop() {
  local pid
  for pid in "${GLIMRA_SESSION_PIDS[@]}"; do kill "$pid" 2>/dev/null; done
  for pid in "${GLIMRA_SESSION_PIDS[@]}"; do
    for _ in $(seq 1 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.05; done
    kill -9 "$pid" 2>/dev/null
  done
  GLIMRA_SESSION_PIDS=()
  [ -n "$GLIMRA_SESSION_DIR" ] && rm -rf "$GLIMRA_SESSION_DIR"
  GLIMRA_SESSION_DIR=""
}
