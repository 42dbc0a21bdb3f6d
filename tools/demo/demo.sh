#!/usr/bin/env bash
# The library at work between processes under Wine: a watcher host, hosts
# that register and act on tasks, recorders standing in for the download
# engine and the torrent client, a host holding the store, the log, and the
# purge when the last host has ended. Run through ./dev run.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
bin="$root/build/win32/bin"
demo="$root/build/demo"

ctl() { wine "$bin/dlmgrctl.exe" "$@" 2>&1 | tr -d '\r'; }
if [ -t 1 ]; then
  section() { printf '\n\033[1m== %s\033[0m\n' "$*"; }
else
  section() { printf '\n== %s\n' "$*"; }
fi
windows_path() { winepath -w "$1" 2>/dev/null; }
# Waits up to ten seconds for a file to have content.
await_file() { for _ in $(seq 100); do [ -s "$1" ] && return 0; sleep 0.1; done; }
last_line() { tail -n 1 "$1" | tr -d '\r'; }

profile="$(wine cmd.exe /c echo %USERPROFILE% 2>/dev/null | tr -d '\r')"
data_folder="$(winepath -u "$profile\\Application Data\\p4p" 2>/dev/null)"

# A fresh table, log and stand-in programs for this run.
rm -rf "$demo"
mkdir -p "$demo/install"
rm -f "$data_folder/dlmgr.dat" "$data_folder/dlmgr.intent" "$data_folder/dlmgr.log"
cp "$bin/recorder.exe" "$demo/engine.exe"
cp "$bin/recorder.exe" "$demo/install/BTClient.exe"

section "Settings: the download engine, the installation folder, and a log of every step"
ctl config set DLEngine "$(windows_path "$demo/engine.exe")"
ctl config set default "$(windows_path "$demo/install")"
ctl config set DlmgrLogLevel 0
ctl config | grep -v '^  '

section "A host process keeps the shared table open, and another watches its change counters"
wine "$bin/dlmgrctl.exe" host >"$demo/host.txt" 2>&1 &
host=$!
await_file "$demo/host.txt"
tr -d '\r' <"$demo/host.txt"
wine "$bin/dlmgrctl.exe" watch --interval 100 >"$demo/watch.txt" 2>&1 &
watcher=$!
trap 'kill "$watcher" "$host" 2>/dev/null || true' EXIT
for _ in $(seq 100); do grep -q watching "$demo/watch.txt" 2>/dev/null && break; sleep 0.1; done
tr -d '\r' <"$demo/watch.txt"

section "Other host processes register five tasks, one of them a torrent"
ctl set --id 00000001000000000000000000000000 --kind engine --status running --file 'C:\Downloads\debian.iso'
ctl set --id 00000002000000000000000000000000 --kind engine --status paused --file 'C:\Downloads\movie.mkv'
ctl set --id 00000003000000000000000000000000 --kind engine --status completed --file 'C:\Downloads\report.pdf' --source 'http://example.test/report.pdf'
ctl set --id 00000004000000000000000000000000 --kind torrent --status paused --file 'C:\Downloads\album' --torrent album
ctl set --id 00000005000000000000000000000000 --kind engine --status stopped --file 'C:\Downloads\archive.zip' --source 'http://example.test/archive.zip'

section "Another host lists the running and the stopped tasks"
ctl list all

section "The paused engine task is resumed: the module starts the download engine"
ctl resume 00000002000000000000000000000000
await_file "$demo/engine.exe.log"
printf 'the engine (a recorder here) was started as:\n  %s\n' "$(last_line "$demo/engine.exe.log")"

section "The paused torrent task is resumed: the module starts the torrent client"
ctl resume 00000004000000000000000000000000
await_file "$demo/install/BTClient.exe.log"
printf 'the client (a recorder here) was started as:\n  %s\n' "$(last_line "$demo/install/BTClient.exe.log")"

section "The stopped task is downloaded again from its source"
ctl again 00000005000000000000000000000000
for _ in $(seq 100); do [ "$(wc -l <"$demo/engine.exe.log")" -ge 2 ] && break; sleep 0.1; done
printf 'the engine was started as:\n  %s\n' "$(last_line "$demo/engine.exe.log")"

section "A refusal says why"
ctl open 00000002000000000000000000000000 || true

section "A host holds the store (between counting and copying a list) for three seconds"
wine "$bin/dlmgrctl.exe" hold --seconds 3 >"$demo/hold.txt" 2>&1 &
holder=$!
await_file "$demo/hold.txt"
ctl lock
echo "meanwhile another host lists; after a second it says whom it waits for:"
ctl list stopped
wait "$holder" 2>/dev/null || true

section "The running task completes; the completed report is deleted"
ctl set --id 00000001000000000000000000000000 --kind engine --status completed --file 'C:\Downloads\debian.iso'
ctl delete 00000003000000000000000000000000
ctl list stopped

sleep 0.5
section "What the watcher saw"
kill "$watcher" "$host" 2>/dev/null || true
wait "$watcher" "$host" 2>/dev/null || true
tr -d '\r' <"$demo/watch.txt"

section "The module's log of the actions (its code page 936 converted to UTF-8)"
ctl log --utf8 | grep -F 'C:\Downloads' | grep -v ID | tail -n 8

section "Every host has ended; the data file, inspected offline (without loading the module)"
ctl inspect || true

section "Looking changes nothing: with no host running, list reads the file as stored"
ctl list all

section "A host starts again: the first to map the table keeps only paused tasks"
ctl hold --seconds 0
ctl list all

section "Where things are"
printf '  DLL:        %s\n' "$bin/dlmgr.dll"
printf '  header:     %s\n' "$root/include/dlmgr.h"
printf '  data file:  %s\n' "$data_folder/dlmgr.dat"
printf '  the table, read without loading the library:  ./dev ctl inspect\n'
printf '  the table in a window (the viewer, dlmgrview):  ./dev view\n'
