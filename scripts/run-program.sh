#!/usr/bin/env bash
# Opens the Windows program ksvw4q.exe under Wine, connected to a simulated
# analyzer:
#   scripts/run-program.sh [--screenshot FILE]
# ksvw-sim (native build) listens on TCP at 127.0.0.1 and on a pseudo-terminal
# that the Wine prefix maps to COM1, so the program's default settings (COM1,
# 115200 bit/s) connect with Remote > Connect (Shift+F5). The program opens on
# $DISPLAY, or on a virtual display when there is none. With --screenshot, or
# without a display, it is driven as a user would drive it (connect over the
# LAN converter, download the capture, open the key emulator with F8, press
# its key 5), saves a PNG of the main window with the downloaded rows
# (FILE) and one of the key emulator showing the simulator's LCD
# (FILE without .png, then -keyemu.png), closes the program and runs one
# ksvw-remote.exe script against the simulator, printing its JSON (the
# LCD and the capture beside FILE, -remote.bmp and -remote.DT); otherwise
# it runs until the window is closed.
# Expects the native and Windows builds (scripts/build.sh native win).
#   KSVW_SIM_RECORDS  records in the simulator's capture memory (default 20000)
set -euo pipefail
# shellcheck source=scripts/common.sh
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

shot=""
while (($# > 0)); do
  case "$1" in
    --screenshot)
      (($# >= 2)) || die "--screenshot needs a file name"
      shot="$(realpath -m "$2")"
      shift 2
      ;;
    *) die "unknown option '$1' (expected --screenshot FILE)" ;;
  esac
done

app="$WIN_DIR/app/ksvw4q.exe"
KSVW_SIM="$BUILD_DIR/sim/ksvw-sim"
[[ -f "$app" ]] || die "ksvw4q.exe was not built ($app)"
[[ -x "$KSVW_SIM" ]] || die "ksvw-sim was not built ($KSVW_SIM)"
# shellcheck source=scripts/sim.sh
source "$KSVW_ROOT/scripts/sim.sh"

# No display: run again on a virtual one, and take the picture there.
if [[ -z "${DISPLAY:-}" && -z "${KSVW_ON_XVFB:-}" ]]; then
  [[ -n "$shot" ]] || shot="$(realpath -m "${KSVW_RUN_DIR:-$BUILD_DIR/run}")/ksvw4q.png"
  say "no display: running on a virtual one, screenshot to $shot"
  export WINEPREFIX="$WINE_PREFIX"
  KSVW_ON_XVFB=1 exec "$KSVW_ROOT/scripts/with-xvfb.sh" "$0" --screenshot "$shot"
fi

"$KSVW_ROOT/scripts/wine-prefix.sh" "$WINE_PREFIX"
export WINEPREFIX="$WINE_PREFIX"
work="$(mktemp -d)"
pty="$work/com1"
app_pid=""
cleanup() {
  [[ -n "$app_pid" ]] && kill "$app_pid" 2>/dev/null
  stop_all_sims
  # Leave the prefix's COM1 as Wine maps it by itself.
  wine reg delete 'HKLM\Software\Wine\Ports' /v COM1 /f >/dev/null 2>&1 || true
  if [[ -n "${KSVW_ON_XVFB:-}" ]]; then
    wine reg delete 'HKCU\Software\Wine\X11 Driver' /v Decorated /f >/dev/null 2>&1 || true
  fi
  wineserver -w 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

say "ksvw-sim: TCP on 127.0.0.1 and a pseudo-terminal for COM1"
start_sim "$work/sim" --tcp 127.0.0.1:0 --pty "$pty" --records "${KSVW_SIM_RECORDS:-20000}" \
  --board MDCL --seed 7
port="$(sim_port "$work/sim")"
say "simulated analyzer: COM1, or LAN converter at host 127.0.0.1 port $port"

# Wine maps COM1 to /dev/ttyS0 itself at every start unless the prefix's
# Ports key names another device; a symlink made by hand would be replaced.
wine reg add 'HKLM\Software\Wine\Ports' /v COM1 /t REG_SZ /d "$pty" /f >/dev/null 2>&1
if [[ -n "${KSVW_ON_XVFB:-}" ]]; then
  # No window manager on the virtual display: Wine draws the frames itself.
  wine reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /t REG_SZ /d N /f >/dev/null 2>&1
fi
# The mapping is made when the Wine server starts: let this one end first.
wineserver -w

if [[ -z "$shot" ]]; then
  say "opening ksvw4q.exe on $DISPLAY (close its window to end)"
  wine "$app"
  exit 0
fi

command -v xwininfo >/dev/null || die "xwininfo is missing (scripts/setup.sh win)"
command -v import >/dev/null || die "ImageMagick's import is missing (scripts/setup.sh win)"
demo="$WIN_DIR/tools/uiauto/ksvw_run_demo.exe"
[[ -f "$demo" ]] || die "ksvw_run_demo.exe was not built ($demo)"

# A copy of the program of its own, set to reach the simulator over TCP:
# the download is quick there, and the build's folder keeps its settings.
mkdir -p "$work/app"
cp "$app" "$(dirname "$app")"/*.dll "$work/app/"
printf '[REMOTE]\r\nMETHOD=2\r\n[RB40]\r\nHOST=127.0.0.1\r\nPORT=%s\r\nCTPORT=\r\n' "$port" \
  >"$work/app/SETTING.ini"

# The X window whose title is $1 (empty when there is none yet).
x_window() {
  xwininfo -root -tree 2>/dev/null | awk -v t="\"$1\"" 'index($0, t) {print $1; exit}'
}
start=$(date +%s%N)
(cd "$work/app" && exec wine ksvw4q.exe) >"$work/app.log" 2>&1 &
app_pid=$!
window=""
for _ in $(seq 600); do
  window="$(x_window KS-VW4QX)"
  [[ -n "$window" ]] && break
  kill -0 "$app_pid" 2>/dev/null || break
  sleep 0.05
done
[[ -n "$window" ]] || die "the main window did not appear"
say "main window shown $((($(date +%s%N) - start) / 1000000)) ms after start"
mkdir -p "$(dirname "$shot")"
wine "$demo" download || die "driving the program failed"
sleep 0.5 # let it paint
# What the shown capture costs the program (Wine's process as Linux sees it;
# its mapped files are counted apart from the memory of its own).
say "memory with the download of ${KSVW_SIM_RECORDS:-20000} records shown: $(awk \
  '/^(VmRSS|RssAnon|RssFile):/ {printf "%s%s %.1f MiB", n++ ? ", " : "", $1, $2 / 1024}' \
  "/proc/$app_pid/status" 2>/dev/null)"
import -window "$window" "$shot"
say "screenshot of the main window: $shot"
wine "$demo" keyemu || die "driving the key emulator failed"
keyemu="$(x_window "Key Emulator")"
[[ -n "$keyemu" ]] || die "the key emulator's window did not appear"
import -window "$keyemu" "${shot%.png}-keyemu.png"
say "screenshot of the key emulator: ${shot%.png}-keyemu.png"

# What the open key emulator costs while the analyzer's screen stays still:
# the program's processor time (all its threads) over five seconds.
cpu_ticks() { awk '{print $14 + $15}' "/proc/$app_pid/stat" 2>/dev/null || echo 0; }
before="$(cpu_ticks)"
sleep 5
after="$(cpu_ticks)"
say "monitoring an unchanging screen: $(awk -v t=$((after - before)) -v hz="$(getconf CLK_TCK)" \
  'BEGIN {printf "%.2f %% of one core (%d ticks in 5 s)", 100 * t / hz / 5, t}') by $(cat "/proc/$app_pid/comm" 2>/dev/null)"

# A bench script's view of the same analyzer: one ksvw-remote.exe script
# over TCP, once the program has let the analyzer go (a connected program
# holds it), with its JSON.
kill "$app_pid" 2>/dev/null || true
wait "$app_pid" 2>/dev/null || true
app_pid=""
remote="$WIN_DIR/tools/ksvw-remote/ksvw-remote.exe"
[[ -f "$remote" ]] || die "ksvw-remote.exe was not built ($remote)"
say "ksvw-remote.exe --lan 127.0.0.1:$port --json info keys M screen ... download ..."
wine "$remote" --lan "127.0.0.1:$port" --json info keys M screen "${shot%.png}-remote.bmp" \
  download "${shot%.png}-remote.DT" || die "the ksvw-remote script failed"
say "ksvw-remote: the LCD in ${shot%.png}-remote.bmp, the capture in ${shot%.png}-remote.DT"
