# Shared shell functions: a private headless Wayland session for tests, the mount namespace of its own
# it runs in, and the unprivileged user it runs as when the caller is root (sway refuses to run as
# root). Sourced by scripts/with-session, the other sessions' scripts and scripts/setup.
#
# The session: headless sway (software rendering, no XWayland) with one output per entry of the
# output list; a wallpaper of known pixels on each output (swaybg); a private session bus with
# PipeWire, WirePlumber and the desktop portal with its wlroots backend. Everything is a child of the
# calling shell and stopped by PID.

. "$(dirname "${BASH_SOURCE[0]}")/session.sh"

GLIMRA_WAYLAND_USER=glimra-test
# What every Wayland session runs (glimra_require's form): its buses, the portal, and Qt 6's Wayland
# plugin for the programs under test; and what wallpapers are made with.
GLIMRA_WAYLAND_NEEDS=("dbus-daemon dbus" "dbus-send dbus" "/usr/libexec/xdg-desktop-portal xdg-desktop-portal"
  "/usr/lib/*/qt6/plugins/platforms/libqwayland-generic.so qt6-wayland Qt 6's Wayland plugin")
GLIMRA_WAYLAND_WALLPAPER_NEEDS=("convert imagemagick" "openssl openssl")
# The outputs HEADLESS-1, HEADLESS-2, ..., one entry each, separated by spaces:
#   WIDTHxHEIGHT[@SCALE][,TRANSFORM][POSITION]
# WIDTHxHEIGHT  the mode: device pixels in the output's own orientation, before its transform
# SCALE         a positive decimal number, 1 when left out; at a whole scale the upright sides must be
#               multiples of it (so that the wallpaper shows pixel for pixel)
# TRANSFORM     sway's: normal (when left out), 90, 180, 270, flipped, flipped-90, flipped-180, flipped-270
# POSITION      +X,Y or -X,Y: the top-left corner in the layout's logical coordinates, Y signed or not
#               (+1920,-540); when left out, right of the entry before (the first at 0,0), at Y 0
# e.g. "1920x1080@1.5 1280x720@2+1280,0 1920x1080@1,90-1080,0"
GLIMRA_WAYLAND_DEFAULT_OUTPUTS="1920x1080@1 1280x720@2"
# Bump when the wallpaper recipe changes, so cached pictures are made anew.
GLIMRA_WAYLAND_WALLPAPER_RECIPE=1

GLIMRA_WAYLAND_PIDS=()
GLIMRA_WAYLAND_DIR=""

_glimra_wayland_log() { echo "wayland session: $*" >&2; }

# Waits up to $1 tenths of a second for the command after it to succeed.
_glimra_wayland_until() {
  local tenths="$1" i
  shift
  for ((i = 0; i < tenths * 2; i++)); do
    "$@" && return 0
    sleep 0.05
  done
  "$@"
}

_glimra_wayland_name_owned() {
  dbus-send --session --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
    org.freedesktop.DBus.NameHasOwner "string:$1" 2>/dev/null | grep -q 'boolean true'
}

# ---- Root: the unprivileged user and its way to the tree ----

# Creates the test user unless it exists: a system user with a home of its own, which keeps the
# wallpapers it makes. Run as root by scripts/setup; `userdel --remove glimra-test` takes it away.
glimra_wayland_user_ensure() {
  id -u "$GLIMRA_WAYLAND_USER" >/dev/null 2>&1 && return 0
  useradd --system --user-group --create-home --home-dir "/var/lib/$GLIMRA_WAYLAND_USER" \
    --shell /usr/sbin/nologin "$GLIMRA_WAYLAND_USER" 2>/dev/null
  # Another run may have created it meanwhile.
  id -u "$GLIMRA_WAYLAND_USER" >/dev/null 2>&1 || { _glimra_wayland_log "cannot create user $GLIMRA_WAYLAND_USER"; return 1; }
  echo "Created the system user $GLIMRA_WAYLAND_USER (home /var/lib/$GLIMRA_WAYLAND_USER), which the Wayland test sessions run as"
}

_glimra_wayland_as_user_test() {
  setpriv --reuid="$GLIMRA_WAYLAND_USER" --regid="$GLIMRA_WAYLAND_USER" --init-groups test "$@"
}

# Lets the test user read the tree SRC and write in its build trees (build*/: ctest writes its logs
# and the test lists it discovers there) through ACL entries of that one user on the tree itself, so
# its owners and modes stay as they are. Folders above the tree are left alone.
glimra_wayland_grant_tree() {
  local src="$1" build
  _glimra_wayland_as_user_test -r "$src/scripts/with-session" -a -x "$src/scripts" ||
    setfacl -R -m "u:$GLIMRA_WAYLAND_USER:rX" "$src" || return 1
  for build in "$src"/build*/; do
    [ -d "$build" ] || continue
    setfacl -R -m "u:$GLIMRA_WAYLAND_USER:rwX" -m "d:u:$GLIMRA_WAYLAND_USER:rwX" "$build" || return 1
  done
}

# The topmost folder above TREE that the test user cannot pass (root's home, for one), if any.
_glimra_wayland_closed_above() {
  local dir="$1" closed=""
  while [ "$dir" != / ]; do
    dir="$(dirname "$dir")"
    _glimra_wayland_as_user_test -x "$dir" || closed="$dir"
  done
  echo "$closed"
}

# As root, runs COMMAND as the test user in a namespace with a /tmp of its own (glimra_exec_own_tmp),
# with the caller's environment minus what belongs to the caller's own session; replaces the calling
# shell. The test user reaches the tree alone: in the same mount namespace the topmost folder above
# TREE that it cannot pass is covered with a tmpfs (mode 0755) holding nothing but the way to the tree,
# so nothing on the machine changes but ACL entries on the tree itself (glimra_wayland_grant_tree).
# Where the machine allows no mount namespace (a container without CAP_SYS_ADMIN), COMMAND runs as the
# test user without one if that user reaches the tree, and tries a user namespace of its own.
#   glimra_wayland_exec_as_user TREE COMMAND...
glimra_wayland_exec_as_user() {
  local tree="$1" closed
  if ! id -u "$GLIMRA_WAYLAND_USER" >/dev/null 2>&1; then
    _glimra_wayland_log "the Wayland sessions run as the unprivileged user $GLIMRA_WAYLAND_USER," \
      "which scripts/setup creates: run it first"
    return 1
  fi
  glimra_require "the Wayland sessions as root" "setpriv util-linux" "unshare util-linux" "setfacl acl" || return 1
  if unshare --mount true 2>/dev/null; then
    exec unshare --mount --propagation private -- \
      bash -c '. "$0" && _glimra_wayland_isolate_as_user "$@"' "${BASH_SOURCE[0]}" "$@"
  fi
  closed="$(_glimra_wayland_closed_above "$tree")"
  if [ -n "$closed" ]; then
    _glimra_wayland_log "the test user $GLIMRA_WAYLAND_USER cannot reach $tree ($closed is closed to it)," \
      "and this machine gives no mount namespace to open a way: put the tree where every user may pass"
    return 1
  fi
  glimra_wayland_grant_tree "$tree" || return 1
  shift
  _glimra_wayland_exec_setpriv "$@"
}

# Inside the mount namespace of glimra_wayland_exec_as_user, as root: TREE COMMAND...
_glimra_wayland_isolate_as_user() {
  local tree="$1" fd closed
  shift
  exec {fd}<"$tree" && glimra_cover /tmp 1777 "$tree" "$fd" || return 1
  closed="$(_glimra_wayland_closed_above "$tree")"
  if [ "$closed" = / ]; then
    _glimra_wayland_log "the test user $GLIMRA_WAYLAND_USER cannot pass /"
    return 1
  fi
  [ -z "$closed" ] || glimra_cover "$closed" 0755 "$tree" "$fd" || return 1
  exec {fd}<&-
  glimra_wayland_grant_tree "$tree" || return 1
  # TMPDIR may name a folder of the caller's that the test user cannot write: the session's /tmp serves.
  _glimra_wayland_exec_setpriv env -u TMPDIR GLIMRA_OWN_TMP=1 "$@"
}

_glimra_wayland_exec_setpriv() {
  local home
  home="$(getent passwd "$GLIMRA_WAYLAND_USER" | cut -d: -f6)"
  exec setpriv --reuid="$GLIMRA_WAYLAND_USER" --regid="$GLIMRA_WAYLAND_USER" --init-groups \
    env -u XDG_RUNTIME_DIR -u DBUS_SESSION_BUS_ADDRESS -u DISPLAY -u XAUTHORITY \
    HOME="$home" USER="$GLIMRA_WAYLAND_USER" LOGNAME="$GLIMRA_WAYLAND_USER" "$@"
}

# ---- Wallpapers ----

# Writes a busy, non-repeating picture of WIDTHxHEIGHT to FILE: noise from a fixed key (a different key per
# variant) over a red ramp left to right and a green one top to bottom, so offsets, scales and flips
# all show and a person can still tell where a piece came from.
glimra_wayland_make_wallpaper() {
  local size="$1" variant="$2" file="$3"
  local w="${size%x*}" h="${size#*x}" key
  key="$(printf '%032x' "$((variant + 1))")"
  openssl enc -aes-128-ctr -nosalt -K "$key" -iv 00000000000000000000000000000000 </dev/zero 2>/dev/null |
    head -c "$((w * h * 3))" |
    convert -size "${w}x${h}" -depth 8 rgb:- \
      \( -size "${h}x${w}" gradient:'#f00'-'#000' -rotate 90 \
         -size "${w}x${h}" gradient:'#000'-'#0f0' -compose plus -composite \) \
      -compose blend -define compose:args=50,50 -composite \
      -define png:compression-level=1 -define png:exclude-chunks=date,time "PNG24:$file.part" &&
    mv "$file.part" "$file"
}

# The wallpaper of that size and variant, made once per user and kept in the cache.
_glimra_wayland_wallpaper() {
  local size="$1" variant="$2" cache="${XDG_CACHE_HOME:-$HOME/.cache}/glimra-test-wallpapers"
  mkdir -p "$cache" 2>/dev/null && [ -w "$cache" ] || cache="$GLIMRA_WAYLAND_DIR"
  local file="$cache/r$GLIMRA_WAYLAND_WALLPAPER_RECIPE-$size-$variant.png"
  [ -s "$file" ] || glimra_wayland_make_wallpaper "$size" "$variant" "$file" || return 1
  echo "$file"
}

# Whether the output NAME shows its wallpaper: a 16x16 piece at (X, Y) (logical, on the layout) copied
# from the screen matches the one cut from the picture. At a fractional SCALE (empty) sway resamples
# what swaybg draws, so there the piece need only be as busy as the wallpaper: no blank output.
_glimra_wayland_shows_wallpaper() {
  local name="$1" x="$2" y="$3" scale="$4"
  if [ -z "$scale" ]; then
    [ "$(grim -g "$x,$y 16x16" -t ppm - 2>/dev/null | tail -c 768 | od -An -v -tx1 | tr -s ' \n' '\n' |
      sort -u | wc -l)" -gt 64 ]
    return
  fi
  cmp -s <(grim -g "$x,$y 16x16" -t ppm - 2>/dev/null | tail -c "$((16 * scale * 16 * scale * 3))") \
    "$GLIMRA_WAYLAND_DIR/probe-$name.rgb"
}

# ---- The outputs ----

# The size in points of a mode of SIZE (WIDTHxHEIGHT) at SCALE, for the desktops that take one output
# and a scale; refused unless both sides come out whole.
_glimra_wayland_points() {
  local points
  points="$(awk -v s="$2" -v w="${1%x*}" -v h="${1#*x}" \
    'BEGIN { if (s > 0 && w / s == int(w / s) && h / s == int(h / s)) printf "%dx%d\n", w / s, h / s }')"
  [ -n "$points" ] || { _glimra_wayland_log "bad scale '$2': $1 at it must make whole points"; return 1; }
  echo "$points"
}

# Reads the output entries (the grammar above) into _glimra_outputs, one "MODE SCALE TRANSFORM X Y
# UPRIGHT WHOLE POINTS" each (UPRIGHT: the device pixels upright, WIDTHxHEIGHT; WHOLE: 1 at a whole
# scale; POINTS: the logical size, WIDTH HEIGHT); a bad entry, or outputs that overlap, are refused
# with a message.
_glimra_wayland_parse_outputs() {
  local re='^([0-9]+)x([0-9]+)(@([0-9]*\.?[0-9]+))?(,(normal|90|180|270|flipped|flipped-90|flipped-180|flipped-270))?(([+-][0-9]+),([+-]?[0-9]+))?$'
  local entry w h uw uh scale transform whole lw lh x y right=0 rects=() r
  _glimra_outputs=()
  for entry in $1; do
    if ! [[ $entry =~ $re ]]; then
      _glimra_wayland_log "bad output '$entry': want WIDTHxHEIGHT[@SCALE][,TRANSFORM][+X,Y], e.g. 1920x1080@1.5,90-1080,0"
      return 1
    fi
    w=${BASH_REMATCH[1]} h=${BASH_REMATCH[2]} scale=${BASH_REMATCH[4]:-1} transform=${BASH_REMATCH[6]:-normal}
    x=${BASH_REMATCH[8]:-$right} y=${BASH_REMATCH[9]:-0}
    x=$((x)) y=$((y))
    uw=$w uh=$h
    case "$transform" in *90 | *270) uw=$h uh=$w ;; esac
    # The logical size as sway makes it: the upright sides over the scale, rounded down.
    read -r whole lw lh < <(awk -v s="$scale" -v w="$uw" -v h="$uh" \
      'BEGIN { if (s > 0) printf "%d %d %d\n", s == int(s), int(w / s), int(h / s) }')
    if [ -z "$whole" ] || ((w < 64 || h < 64 || lw < 1 || lh < 1)); then
      _glimra_wayland_log "bad output '$entry': sides of 64 pixels or more, a scale above 0"
      return 1
    fi
    if ((whole)); then
      scale=$(awk -v s="$scale" 'BEGIN { print int(s) }')
      if ((uw % scale || uh % scale)); then
        _glimra_wayland_log "bad output '$entry': at a whole scale the sides must be multiples of it"
        return 1
      fi
    fi
    for r in "${rects[@]}"; do
      set -- $r
      if ((x < $1 + $3 && $1 < x + lw && y < $2 + $4 && $2 < y + lh)); then
        _glimra_wayland_log "output '$entry' at $x,$y (${lw}x$lh points) overlaps another"
        return 1
      fi
    done
    rects+=("$x $y $lw $lh")
    right=$((x + lw))
    _glimra_outputs+=("${w}x$h $scale $transform $x $y ${uw}x$uh $whole $lw $lh")
  done
  [ ${#_glimra_outputs[@]} -gt 0 ] || { _glimra_wayland_log "no outputs"; return 1; }
}

# Readies output I (from 1) of _glimra_outputs as NAME: its wallpaper in the session's wallpapers
# folder and the piece to recognise it by; prints sway's settings for it (after "output NAME", in the
# configuration or a command).
_glimra_wayland_output_settings() {
  local i="$1" name="$2" d="$GLIMRA_WAYLAND_DIR" wallpaper
  set -- ${_glimra_outputs[i - 1]}
  local mode="$1" scale="$2" transform="$3" x="$4" y="$5" upright="$6" whole="$7"
  wallpaper="$(_glimra_wayland_wallpaper "$upright" "$i")" || { _glimra_wayland_log "cannot make a wallpaper"; return 1; }
  cp "$wallpaper" "$d/wallpapers/$name.png" || return 1
  if ((whole)); then
    # The piece from the middle of the output, in its device pixels.
    local w="${upright%x*}" h="${upright#*x}"
    convert "$wallpaper" -crop "$((16 * scale))x$((16 * scale))+$((w / scale / 2 * scale))+$((h / scale / 2 * scale))" \
      +repage -depth 8 "rgb:$d/probe-$name.rgb" || return 1
  fi
  # Through sway's own background (it runs swaybg): tests may show another picture for a while with
  # `output NAME bg FILE MODE` and put this one back. Where a fractional scale resamples it anyway, it is
  # stretched over the whole output, so that every part of the output is busy.
  echo "resolution $mode scale $scale transform $transform position $x $y" \
    "bg $d/wallpapers/$name.png $( ((whole)) && echo center || echo stretch)"
}

# Waits until each of the outputs NAME... (those of _glimra_outputs, in order) shows its wallpaper.
_glimra_wayland_await_wallpapers() {
  local i=0 name
  for name in "$@"; do
    set -- ${_glimra_outputs[i]}
    i=$((i + 1))
    _glimra_wayland_until 100 _glimra_wayland_shows_wallpaper "$name" "$(($4 + $8 / 2))" "$(($5 + $9 / 2))" \
      "$( (($7)) && echo "$2")" || { _glimra_wayland_log "$name does not show its wallpaper"; return 1; }
  done
}

# What tests learn of the outputs NAME... (those of _glimra_outputs, in order), as GLIMRA_WAYLAND_OUTPUTS
# gives it: one word each, NAME:ENTRY:LOGICAL, ENTRY with every part of the grammar spelled out and
# LOGICAL the size in points as sway reports it (e.g. HEADLESS-2:1280x720@2,normal+1920,0:640x360).
_glimra_wayland_describe_outputs() {
  local rects i=0 name rect words=()
  rects="$(swaymsg -r -t get_outputs | tr -d ' \n' | grep -o '"rect":{[^}]*}\|"name":"[^"]*"' |
    awk -F'[:,{}"]+' '/rect/ { r = $4 " " $6 " " $8 "x" $10 } /name/ { print $3 " " r }')" || return 1
  for name in "$@"; do
    set -- ${_glimra_outputs[i]}
    i=$((i + 1))
    rect="$(echo "$rects" | awk -v n="$name" '$1 == n { print $2, $3, $4 }')"
    set -- $1 $2 $3 $rect
    [ -n "$6" ] || { _glimra_wayland_log "sway does not report $name"; return 1; }
    words+=("$name:$1@$2,$3$( (($4 < 0)) || echo +)$4,$5:$6")
  done
  echo "${words[*]}"
}

# Puts the running session's outputs into the layout ENTRIES (the grammar above) through sway's IPC,
# each with its wallpaper (the session's wallpapers folder follows); waits until each output shows it
# and prints the layout as GLIMRA_WAYLAND_OUTPUTS gives it. The layout has as many outputs as the
# session: sway 1.7 can add headless outputs (create_output) but never disable or remove them. For
# tests (tests/support), run inside the session as
#   bash -c '. scripts/lib/wayland-session.sh && glimra_wayland_apply_outputs "$0"' ENTRIES
glimra_wayland_apply_outputs() {
  _glimra_wayland_parse_outputs "$1" || return 1
  # The session's folder, which sourcing this file forgot.
  local names=() i settings GLIMRA_WAYLAND_DIR="${GLIMRA_WAYLAND_WALLPAPERS%/wallpapers}"
  mapfile -t names < <(swaymsg -r -t get_outputs | tr -d ' \n' | grep -o '"name":"[^"]*"' | cut -d'"' -f4 | sort -V)
  if [ ${#names[@]} -ne ${#_glimra_outputs[@]} ]; then
    _glimra_wayland_log "a layout of ${#_glimra_outputs[@]} outputs for a session of ${#names[@]}: start one of as many (--outputs)"
    return 1
  fi
  for ((i = 0; i < ${#names[@]}; i++)); do
    settings="$(_glimra_wayland_output_settings $((i + 1)) "${names[i]}")" &&
      swaymsg -q -- output "${names[i]}" $settings ||
      { _glimra_wayland_log "sway refused the layout on ${names[i]}"; return 1; }
  done
  _glimra_wayland_await_wallpapers "${names[@]}" && _glimra_wayland_describe_outputs "${names[@]}"
}

# ---- What every session shares ----

# Makes the session's folder (GLIMRA_WAYLAND_DIR) with a private runtime folder, and forgets whatever
# the caller's own session set.
_glimra_wayland_begin() {
  GLIMRA_WAYLAND_DIR="$(mktemp -d /tmp/glimra-wayland.XXXXXX)" || return 1
  mkdir -m 700 "$GLIMRA_WAYLAND_DIR/run" && mkdir "$GLIMRA_WAYLAND_DIR/wallpapers" "$GLIMRA_WAYLAND_DIR/state" ||
    return 1
  # Qt's scale factors come from the outputs alone.
  unset DISPLAY XAUTHORITY WAYLAND_DISPLAY WAYLAND_SOCKET SWAYSOCK QT_SCREEN_SCALE_FACTORS QT_SCALE_FACTOR
  export XDG_RUNTIME_DIR="$GLIMRA_WAYLAND_DIR/run"
  # Event sounds play into ALSA's null device, as in the X11 session: through PipeWire's ALSA plugin, with
  # the session's PipeWire having no output, a program that played one could hang at exit in
  # ca_context_destroy.
  printf 'pcm.!default { type null }\n' >"$GLIMRA_WAYLAND_DIR/asound.conf"
  export ALSA_CONFIG_PATH="$GLIMRA_WAYLAND_DIR/asound.conf"
}

# Starts a private bus NAME (session or system) in the background. It starts none of the services
# installed on this machine: every service the session offers is started by the session itself, and an
# installed helper must not answer in the one under test.
_glimra_wayland_bus_start() {
  local name="$1" d="$GLIMRA_WAYLAND_DIR"
  sed -e 's|<standard_session_servicedirs */>||' /usr/share/dbus-1/session.conf >"$d/$name-bus.conf"
  dbus-daemon --config-file="$d/$name-bus.conf" --nofork --nosyslog --address="unix:path=$d/$name-bus" \
    --print-address=4 4>"$d/$name-bus-address" >"$d/$name-bus.log" 2>&1 &
  GLIMRA_WAYLAND_PIDS+=($!)
}

# Waits for the bus NAME and exports its address as VARIABLE.
_glimra_wayland_bus_wait() {
  local name="$1" d="$GLIMRA_WAYLAND_DIR"
  _glimra_wayland_until 50 test -s "$d/$name-bus-address" ||
    { _glimra_wayland_log "the $name bus did not start"; cat "$d/$name-bus.log" >&2; return 1; }
  export "$2=$(head -n1 "$d/$name-bus-address")"
}

# Runs the command in the background with its output in the session's NAME.log, remembered by PID.
_glimra_wayland_spawn() {
  local name="$1"
  shift
  "$@" >"$GLIMRA_WAYLAND_DIR/$name.log" 2>&1 &
  GLIMRA_WAYLAND_PIDS+=($!)
}

# Waits up to $2 tenths of a second for bus name $1, else shows the log of $3 and fails.
_glimra_wayland_await_name() {
  _glimra_wayland_until "$2" _glimra_wayland_name_owned "$1" && return 0
  _glimra_wayland_log "$1 did not appear on the session bus"
  cat "$GLIMRA_WAYLAND_DIR/$3.log" >&2
  return 1
}

# Says how long the session took to start, since $1 (an EPOCHREALTIME), and what runs in it.
_glimra_wayland_ready() {
  local ms=$(((${EPOCHREALTIME/./} - ${1/./}) / 1000))
  _glimra_wayland_log "ready in $((ms / 1000)).$(printf %03d $((ms % 1000))) s: $2"
}

# Exports the Wayland socket the compositor made in the runtime folder.
_glimra_wayland_export_socket() {
  local socket
  for socket in "$XDG_RUNTIME_DIR"/wayland-*; do
    case "$socket" in *.lock) ;; *) [ -S "$socket" ] && export WAYLAND_DISPLAY="${socket##*/}" && return 0 ;; esac
  done
  return 1
}

# ---- The session ----

# Starts the session with the outputs given (GLIMRA_WAYLAND_DEFAULT_OUTPUTS when empty) and exports
# WAYLAND_DISPLAY, XDG_RUNTIME_DIR, SWAYSOCK, DBUS_SESSION_BUS_ADDRESS, XDG_SESSION_TYPE,
# XDG_CURRENT_DESKTOP, QT_QPA_PLATFORM (DISPLAY unset), and for tests GLIMRA_WAYLAND_OUTPUTS (the
# outputs as _glimra_wayland_describe_outputs gives them), GLIMRA_WAYLAND_WALLPAPERS (a folder with
# NAME.png, each output's wallpaper in its upright device pixels) and GLIMRA_WAYLAND_DIR (the session's
# folder, with the logs of what it started).
glimra_wayland_session_start() {
  local outputs="${1:-$GLIMRA_WAYLAND_DEFAULT_OUTPUTS}" started="$EPOCHREALTIME"
  glimra_require "the sway session" "${GLIMRA_WAYLAND_NEEDS[@]}" "${GLIMRA_WAYLAND_WALLPAPER_NEEDS[@]}" \
    "sway sway" "swaymsg sway" "swaybg swaybg" "grim grim" "pipewire pipewire" "wireplumber wireplumber" \
    "/usr/libexec/xdg-desktop-portal-wlr xdg-desktop-portal-wlr" || return 1
  if [ "$(id -u)" -eq 0 ]; then
    _glimra_wayland_log "sway does not run as root: start the session as an unprivileged user"
    return 1
  fi
  _glimra_wayland_parse_outputs "$outputs" && _glimra_wayland_begin || return 1
  local d="$GLIMRA_WAYLAND_DIR" i names=() settings

  # The pointer is drawn into the outputs' pixels (no hardware cursor here), and so into every copy of
  # them: hidden while it rests, it stays out of pictures compared with the wallpapers.
  # Focusing an output does not move the pointer either: tests put it where they mean it to be.
  printf 'xwayland disable\nseat * hide_cursor 100\nmouse_warping none\n' >"$d/sway.conf"
  # A user's own binding of one of the helper's combinations, which the helper must leave alone.
  echo 'bindsym Ctrl+Shift+Mod1+1 nop users-own' >>"$d/sway.conf"
  for ((i = 1; i <= ${#_glimra_outputs[@]}; i++)); do
    names+=("HEADLESS-$i")
    settings="$(_glimra_wayland_output_settings "$i" "HEADLESS-$i")" || return 1
    echo "output HEADLESS-$i $settings" >>"$d/sway.conf"
  done

  _glimra_wayland_bus_start session || return 1

  WLR_BACKENDS=headless WLR_RENDERER=pixman WLR_HEADLESS_OUTPUTS="${#names[@]}" WLR_LIBINPUT_NO_DEVICES=1 \
    sway -c "$d/sway.conf" >"$d/sway.log" 2>&1 &
  local sway=$!
  GLIMRA_WAYLAND_PIDS+=($sway)
  # PipeWire needs neither the bus nor sway to start; the portal's backend needs it.
  XDG_STATE_HOME="$d/state" pipewire >"$d/pipewire.log" 2>&1 &
  GLIMRA_WAYLAND_PIDS+=($!)

  _glimra_wayland_bus_wait session DBUS_SESSION_BUS_ADDRESS || return 1
  export SWAYSOCK="$XDG_RUNTIME_DIR/sway-ipc.$(id -u).$sway.sock"
  if ! _glimra_wayland_until 100 swaymsg -q -t get_version 2>/dev/null; then
    _glimra_wayland_log "sway did not start"
    cat "$d/sway.log" >&2
    return 1
  fi
  _glimra_wayland_export_socket
  export XDG_SESSION_TYPE=wayland XDG_CURRENT_DESKTOP=sway QT_QPA_PLATFORM=wayland
  GLIMRA_WAYLAND_OUTPUTS="$(_glimra_wayland_describe_outputs "${names[@]}")" || return 1
  export GLIMRA_WAYLAND_OUTPUTS GLIMRA_WAYLAND_WALLPAPERS="$d/wallpapers" GLIMRA_WAYLAND_DIR

  _glimra_wayland_until 50 test -S "$XDG_RUNTIME_DIR/pipewire-0" ||
    { _glimra_wayland_log "PipeWire did not start"; cat "$d/pipewire.log" >&2; return 1; }
  XDG_STATE_HOME="$d/state" wireplumber >"$d/wireplumber.log" 2>&1 &
  GLIMRA_WAYLAND_PIDS+=($!)
  _glimra_wayland_spawn portal-wlr /usr/libexec/xdg-desktop-portal-wlr
  _glimra_wayland_await_name org.freedesktop.impl.portal.desktop.wlr 100 portal-wlr || return 1
  _glimra_wayland_spawn portal /usr/libexec/xdg-desktop-portal
  _glimra_wayland_await_name org.freedesktop.portal.Desktop 100 portal || return 1

  _glimra_wayland_await_wallpapers "${names[@]}" || { cat "$d/sway.log" >&2; return 1; }
  _glimra_wayland_ready "$started" "sway ($outputs), PipeWire, the portal"
}

# Stops everything the session started, newest first, and removes its folder.
glimra_wayland_session_stop() {
  local i pid
  for ((i = ${#GLIMRA_WAYLAND_PIDS[@]} - 1; i >= 0; i--)); do
    pid="${GLIMRA_WAYLAND_PIDS[i]}"
    kill "$pid" 2>/dev/null || continue
    _glimra_wayland_until 30 eval "! kill -0 $pid 2>/dev/null" || kill -9 "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
  done
  GLIMRA_WAYLAND_PIDS=()
  [ -n "$GLIMRA_WAYLAND_DIR" ] && rm -rf "$GLIMRA_WAYLAND_DIR"
  GLIMRA_WAYLAND_DIR=""
}
