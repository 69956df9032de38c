# Shared by the scripts that run Windows programs under Wine: a template prefix
# made once and copied per run, a private Xvfb, and cleanup by process id.
#
# Wine's server inherits whatever output its first client has; a pipe held open
# by it hangs the caller, so every Wine command here writes into files.

# A Unix path as Windows programs in a prefix see it: Z: is the whole file system.
winpath() { printf 'Z:%s' "${1//\//\\}"; }

# Makes the template prefix at $1 unless it is there already. Safe when several
# tests ask at once.
wine_template() {
  local template=$1
  # A template made by an older version of these settings is made anew.
  local version
  version=$(cksum < "${BASH_SOURCE[0]}")
  [ "$(cat "$template/.ready" 2> /dev/null)" = "$version" ] && return 0
  mkdir -p "$(dirname "$template")"
  (
    flock 9
    [ "$(cat "$template/.ready" 2> /dev/null)" = "$version" ] && exit 0
    rm -rf "$template"
    local log="$template.log"
    # No Mono or Gecko installers: nothing here needs them and they would ask.
    WINEPREFIX=$template WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" \
      timeout 180 wineboot --init > "$log" 2>&1 || { echo "wineboot failed, see $log" >&2; exit 1; }
    # Without a window manager, hiding a managed window makes Wine wait ~2 s.
    # A program that crashes must end, not wait on Wine's crash dialog.
    # Wine hands out its built-in hhctrl.ocx and scrrun.dll for any file of
    # those names unless told to prefer the file on disk.
    cat > "$template/tarnwick.reg" <<'REG'
REGEDIT4

[HKEY_CURRENT_USER\Software\Wine\X11 Driver]
"Managed"="N"

[HKEY_CURRENT_USER\Software\Wine\WineDbg]
"ShowCrashDialog"=dword:00000000

[HKEY_CURRENT_USER\Software\Wine\DllOverrides]
"hhctrl.ocx"="native,builtin"
"scrrun.dll"="native,builtin"
REG
    WINEPREFIX=$template WINEDEBUG=-all timeout 60 wine regedit /S "$template/tarnwick.reg" >> "$log" 2>&1
    WINEPREFIX=$template timeout 60 wineserver -w >> "$log" 2>&1
    echo "$version" > "$template/.ready"
  ) 9> "$template.lock"
}

# Copies the template to a new prefix at $2.
wine_fresh_prefix() {
  rm -rf "$2"
  cp -a "$1" "$2"
  rm -f "$2/.ready"
}

# Starts a private Xvfb and exports DISPLAY; sets XVFB_PID.
xvfb_start() {  # xvfb_start [DPI [WIDTHxHEIGHT]]
  local dpi=${1:-96} size=${2:-1280x1024}
  local fifo
  fifo=$(mktemp -u)
  mkfifo "$fifo"
  Xvfb -displayfd 3 -screen 0 "${size}x24" -dpi "$dpi" -nolisten tcp 3> "$fifo" > /dev/null 2>&1 &
  XVFB_PID=$!
  local display=""
  read -r -t 20 display < "$fifo" || true
  rm -f "$fifo"
  if [ -z "$display" ]; then
    echo "Xvfb did not start" >&2
    return 1
  fi
  export DISPLAY=":$display"
}

# Ends the Wine server of prefix $1 and the Xvfb started here.
wine_stop() {
  [ -n "${1:-}" ] && [ -d "$1" ] && WINEPREFIX=$1 timeout 20 wineserver -k > /dev/null 2>&1
  if [ -n "${XVFB_PID:-}" ]; then
    kill "$XVFB_PID" 2> /dev/null
    wait "$XVFB_PID" 2> /dev/null
    XVFB_PID=""
  fi
  return 0
}
