#!/usr/bin/env bash
# The library at work between processes under Wine: a watcher host, hosts
# that register and act on tasks, a recorder standing in for the download
# engine, and an offline look at the data file. Run through ./dev run.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
bin="$root/build/win32/bin"
demo="$root/build/demo"
key='Software\Velquor R&D\Download'

ctl() { wine "$bin/dlmgrctl.exe" "$@" | tr -d '\r'; }
section() { printf '\n\033[1m== %s\033[0m\n' "$*"; }
windows_path() { winepath -w "$1" 2>/dev/null; }

profile="$(wine cmd.exe /c echo %USERPROFILE% 2>/dev/null | tr -d '\r')"
data_folder="$(winepath -u "$profile\\Application Data\\p4p" 2>/dev/null)"

# A fresh table and stand-in programs for this run.
rm -rf "$demo"
mkdir -p "$demo/install"
rm -f "$data_folder/dlmgr.dat"
cp "$bin/recorder.exe" "$demo/engine.exe"
cp "$bin/recorder.exe" "$demo/install/BTClient.exe"
wine reg add "HKCU\\$key" /v DLEngine /d "$(windows_path "$demo/engine.exe")" /f >/dev/null 2>&1
wine reg add "HKLM\\$key" /ve /d "$(windows_path "$demo/install")" /f >/dev/null 2>&1

section "A host process watches the change counters (it keeps the shared table mapped)"
wine "$bin/dlmgrctl.exe" watch --interval 100 >"$demo/watch.txt" 2>&1 &
watcher=$!
trap 'kill "$watcher" 2>/dev/null || true' EXIT
for _ in $(seq 100); do grep -q watching "$demo/watch.txt" 2>/dev/null && break; sleep 0.1; done
tr -d '\r' <"$demo/watch.txt"

section "Other host processes register five tasks"
ctl set --id 00000001000000000000000000000000 --kind engine --status running --file 'C:\Downloads\debian.iso'
ctl set --id 00000002000000000000000000000000 --kind engine --status paused --file 'C:\Downloads\movie.mkv'
ctl set --id 00000003000000000000000000000000 --kind engine --status completed --file 'C:\Downloads\report.pdf' --source 'http://example.test/report.pdf'
ctl set --id 00000004000000000000000000000000 --kind torrent --status paused --file 'C:\Downloads\album' --torrent album
ctl set --id 00000005000000000000000000000000 --kind engine --status stopped --file 'C:\Downloads\archive.zip' --source 'http://example.test/archive.zip'

section "Another host lists the running and the stopped tasks"
ctl list all

section "The paused engine task is resumed: the module starts the download engine"
ctl resume 00000002000000000000000000000000
for _ in $(seq 100); do [ -s "$demo/engine.exe.log" ] && break; sleep 0.1; done
printf 'the engine (a recorder here) was started as:\n  %s\n' "$(tr -d '\r' <"$demo/engine.exe.log")"

section "The running task completes; the completed report is deleted"
ctl set --id 00000001000000000000000000000000 --kind engine --status completed --file 'C:\Downloads\debian.iso'
ctl delete 00000003000000000000000000000000
ctl list stopped

sleep 0.5
section "What the watcher saw"
kill "$watcher" 2>/dev/null || true
wait "$watcher" 2>/dev/null || true
tr -d '\r' <"$demo/watch.txt"

section "The data file, inspected offline (without loading the module)"
ctl inspect || true

section "Where things are"
printf '  DLL:        %s\n' "$bin/dlmgr.dll"
printf '  header:     %s\n' "$root/include/dlmgr.h"
printf '  data file:  %s\n' "$data_folder/dlmgr.dat"
printf '  tool:       %s (run it as: cmake/wine-run %s list)\n' "$bin/dlmgrctl.exe" "build/win32/bin/dlmgrctl.exe"
