#!/bin/sh
# Runs a Windows program of the viewer under Xvfb with Wine, in a 32-bit
# prefix of its own (PREFIX): Wine needs a display to make windows, and the
# display the session's desktop was made with stays its own, so these runs
# never share a wine server with the tests that need none.
#   run_under_xvfb.sh PREFIX run PROGRAM [ARGS...]   runs it, its exit code
#   run_under_xvfb.sh PREFIX shot PROGRAM PNG         starts it, finds its window,
#       saves a screenshot of it to PNG and checks it has the window's size
#       and is not blank
set -u
prefix="$1" mode="$2" program="$3"
shift 3
export WINEPREFIX="$prefix" WINEARCH=win32 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
if [ -z "${XVFB_RUNNING:-}" ]; then
  export XVFB_RUNNING=1
  exec xvfb-run -a -s "-screen 0 1280x800x24" "$0" "$prefix" "$mode" "$program" "$@"
fi
if [ ! -f "$prefix/system.reg" ]; then
  wineboot -i >/dev/null 2>&1
  wineserver -w
fi
status=0
if [ "$mode" = run ]; then
  wine "$program" "$@"
  status=$?
else
  png="$1"
  wine "$program" --exit-after 30 &
  window=
  for _ in $(seq 1 100); do
    window=$(xwininfo -root -tree 2>/dev/null | awk '/"dlmgr tasks": \("dlmgrview.exe"/ {print $1; exit}')
    [ -n "$window" ] && break
    sleep 0.2
  done
  if [ -z "$window" ]; then
    echo "the viewer's window did not appear"
    status=1
  else
    sleep 2  # its first listing
    size=$(xwininfo -id "$window" | awk '/Width:/ {w=$2} /Height:/ {h=$2} END {print w "x" h}')
    import -window "$window" "$png"
    shot=$(identify -format '%wx%h' "$png")
    spread=$(convert "$png" -format '%[fx:standard_deviation]' info:)
    echo "window $window: $size, screenshot $png: $shot, spread $spread"
    [ "$shot" = "$size" ] || { echo "the screenshot is not the window's size"; status=1; }
    [ "$spread" != 0 ] || { echo "the screenshot is blank"; status=1; }
  fi
fi
wineserver -k >/dev/null 2>&1
wineserver -w >/dev/null 2>&1
exit $status
