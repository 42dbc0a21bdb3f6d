#include "tools/dlmgrctl/commands.h"

#include <windows.h>

#include <vector>

#include "tools/dlmgrctl/module_loading.h"

namespace dlmgrctl {

const char* HelpText(const std::string& command) {
    if (command == "list") {
        return "usage: dlmgrctl list [running|stopped|all] [--json]\n"
               "Prints the change counters, then each task of the list(s): index, id, kind,\n"
               "status number and name, file path. --json prints the same as one JSON object.\n"
               "Reads only: while no host has the table open it reads dlmgr.dat as stored\n"
               "(loading the module then would purge it) and says so.\n";
    }
    if (command == "watch") {
        return "usage: dlmgrctl watch [--interval MS] [--count N]\n"
               "Polls the change counters every MS milliseconds (default 500) and prints the\n"
               "tasks added, removed or changed at each change; stops after N changes, or on\n"
               "Ctrl+C when N is 0 (the default).\n"
               "Reads only: while no host has the table open it reads dlmgr.dat as stored\n"
               "(loading the module then would purge it) and says so.\n";
    }
    if (command == "set") {
        return "usage: dlmgrctl set --id HEX --kind engine|torrent|N --status N|NAME\n"
               "                    --file PATH [--torrent NAME] [--source TEXT] [--any-status]\n"
               "Registers a task, or replaces the one with the same id. HEX is 32 hex digits,\n"
               "the id's 16 bytes in memory order (byte 0 first; the log writes ids as four\n"
               "little-endian words). Status names (any case): running, completed, paused,\n"
               "stopped, running-4, running-5, running-6, closed. A status outside 0..7 is\n"
               "refused unless --any-status is given.\n"
               "Changes the table; when no host had it open, says how many tasks the\n"
               "module's start-up purged.\n";
    }
    if (command == "open" || command == "resume" || command == "again" || command == "delete") {
        return "usage: dlmgrctl open|resume|again|delete ID\n"
               "open: hands a completed task's file to its associated program.\n"
               "resume: restarts a paused task. again: downloads a completed or stopped task\n"
               "again. delete: removes a stopped task (and a paused engine task's work files).\n"
               "Exit code 1 when the module refuses or the program could not be started;\n"
               "dlmgrctl then says why. Changes the table; when no host had it open, says\n"
               "how many tasks the module's start-up purged.\n";
    }
    if (command == "inspect") {
        return "usage: dlmgrctl inspect [PATH] [--json]\n"
               "Reads a dlmgr.dat without loading the module, so nothing is purged, and checks\n"
               "its size, magic, count, statuses, text fields and ids. PATH defaults to the\n"
               "user's data file. Exit code 1 when a check fails, 2 when PATH cannot be read.\n"
               "Reads only.\n";
    }
    if (command == "lock") {
        return "usage: dlmgrctl lock [--json]\n"
               "Shows the state of the store lock read from its shared blocks, without taking\n"
               "it: the owner's thread, process and program, how long it has held the lock,\n"
               "levels held, waiters, and how often the lock was taken over from a thread\n"
               "that died holding it. For finding a host that holds the store. Reads only.\n";
    }
    if (command == "log") {
        return "usage: dlmgrctl log [--follow] [--utf8] [--english]\n"
               "Prints the module's log (its path first), converted from the module's code\n"
               "page 936 to the console's text, or to UTF-8 with --utf8. Each message the\n"
               "module writes shows its meaning in English beside it, in [ ], unless the\n"
               "console's code page is 936 (--english: always). --follow keeps\n"
               "printing new lines until Ctrl+C. By default the module logs only failures;\n"
               "dlmgrctl config set DlmgrLogLevel 0 logs every step. Reads only.\n";
    }
    if (command == "config") {
        return "usage: dlmgrctl config [list] [--json]\n"
               "       dlmgrctl config get NAME\n"
               "       dlmgrctl config set NAME VALUE [--machine]\n"
               "       dlmgrctl config remove NAME [--machine]\n"
               "Lists every setting with the key it comes from (user, machine, or not set)\n"
               "and what applies when it is unset; sets or removes one in the user key (or\n"
               "the machine key with --machine). NAME \"default\" is the machine key's unnamed\n"
               "value, the installation folder. Values the module cannot use are shown.\n"
               "list reads only; set and remove change the registry, never the table.\n";
    }
    if (command == "hold") {
        return "usage: dlmgrctl hold [--seconds N]\n"
               "Holds the task store for N seconds (default 10), as a host does between\n"
               "counting and copying a list: to see how hosts and dlmgrctl wait. Loads the\n"
               "module; when no host had the table open, says how many tasks its start-up\n"
               "purged.\n";
    }
    if (command == "host") {
        return "usage: dlmgrctl host [--seconds N]\n"
               "Loads the module and keeps the table open, as a running host does, until\n"
               "Ctrl+C (or for N seconds): the table then lives on between other commands.\n"
               "When no host had it open, says how many tasks the module's start-up purged.\n";
    }
    return "dlmgrctl " DLMGR_VERSION ": a console host of dlmgr.dll\n"
           "usage: dlmgrctl COMMAND [ARGS] [--timeout SECONDS]\n"
           "  list [running|stopped|all] [--json]   the tasks and change counters\n"
           "  watch [--interval MS] [--count N]     print changes as they happen\n"
           "  set --id HEX --kind K --status S --file PATH [--torrent NAME] [--source TEXT]\n"
           "  open|resume|again|delete ID           act on a task\n"
           "  inspect [PATH] [--json]               check a data file offline\n"
           "  lock [--json]                         who holds the store lock\n"
           "  log [--follow] [--english]            the module's log, readable\n"
           "  config [get NAME | set NAME VALUE | remove NAME]  the settings, their keys\n"
           "  hold [--seconds N]                    hold the store, as a listing host does\n"
           "  host [--seconds N]                    keep the table open, as a running host does\n"
           "dlmgrctl help COMMAND or COMMAND --help for more; dlmgrctl version (or -v,\n"
           "--version) for this tool's and dlmgr.dll's versions. Options take \"--name\n"
           "value\" or \"--name=value\"; --timeout goes before or after the command. While\n"
           "the store is held, dlmgrctl says by whom after a second; --timeout gives up\n"
           "after SECONDS (0: at the first look that finds it held). Exit codes: 0 done,\n"
           "1 refused, 2 bad usage or unreadable input.\n";
}

std::string VersionText() {
    std::string text = "dlmgrctl " DLMGR_VERSION " (" + std::to_string(sizeof(void*) * 8) + "-bit)\n";
    const std::string module = ModuleBesideUs();
    DWORD ignored = 0;
    const DWORD size = ::GetFileVersionInfoSizeA(module.c_str(), &ignored);
    std::vector<char> info(size);
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT fixedSize = 0;
    if (size == 0 || !::GetFileVersionInfoA(module.c_str(), 0, size, info.data()) ||
        !::VerQueryValueA(info.data(), "\\", reinterpret_cast<void**>(&fixed), &fixedSize) ||
        fixed == nullptr) {
        return text + "dlmgr.dll: none with a version beside dlmgrctl.exe\n";
    }
    return text + "dlmgr.dll " + std::to_string(HIWORD(fixed->dwFileVersionMS)) + "." +
           std::to_string(LOWORD(fixed->dwFileVersionMS)) + "." +
           std::to_string(HIWORD(fixed->dwFileVersionLS)) + " (" + module + ")\n";
}

}  // namespace dlmgrctl
