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
               "(loading the library then would purge it) and says so; it also says when the\n"
               "table is full, when hosts share a table that is not saved in dlmgr.dat, and\n"
               "when it reads the table without dlmgr.dll.\n";
    }
    if (command == "watch") {
        return "usage: dlmgrctl watch [--interval MS] [--count N]\n"
               "Polls the change counters every MS milliseconds (default 500) and prints the\n"
               "tasks added, removed or changed at each change; stops after N changes, or on\n"
               "Ctrl+C when N is 0 (the default).\n"
               "Reads only: while no host has the table open it reads dlmgr.dat as stored\n"
               "(loading the library then would purge it) and says so.\n";
    }
    if (command == "set") {
        return "usage: dlmgrctl set --id HEX --kind engine|torrent|N --status N|NAME\n"
               "                    --file PATH [--torrent NAME] [--source TEXT] [--any-status]\n"
               "Registers a task, or replaces the one with the same id. HEX is 32 hex digits,\n"
               "the id's 16 bytes in memory order (byte 0 first), as list shows them. Status\n"
               "names (any case): running, completed, paused, stopped, running-4, running-5,\n"
               "running-6 (running states of a host's own, listed as running), closed. A\n"
               "status outside 0..7 is refused unless --any-status is given.\n"
               "Changes the table; when no host had it open, says how many tasks the\n"
               "library's start-up purged. A full table (512 tasks) is said to be full.\n";
    }
    if (command == "open" || command == "resume" || command == "again" || command == "delete") {
        return "usage: dlmgrctl open|resume|again|delete ID\n"
               "open: hands a completed task's file to its associated program; a missing file,\n"
               "or one no program opens, is refused here (the shell would wait on a window).\n"
               "resume: restarts a paused task. again: downloads a completed or stopped task\n"
               "again. delete: removes a stopped task (and a paused engine task's work files).\n"
               "Exit code 1 when the library refuses or the program could not be started;\n"
               "dlmgrctl then says why. Changes the table; when no host had it open, says\n"
               "how many tasks the library's start-up purged.\n";
    }
    if (command == "inspect") {
        return "usage: dlmgrctl inspect [PATH] [--json]\n"
               "Reads a dlmgr.dat without loading the library, so nothing is purged, and\n"
               "checks its size, magic, count, statuses and ids (a text field filled to its\n"
               "width is valid); a file of the wrong size is read only as far as a table.\n"
               "PATH defaults to the user's data file, of which it also says when hosts\n"
               "share a table not saved in it. Exit code 1 when a check fails, 2 when PATH\n"
               "cannot be read. Reads only.\n";
    }
    if (command == "lock") {
        return "usage: dlmgrctl lock [--json]\n"
               "Shows the state of the store lock read from its shared blocks, without taking\n"
               "it: the owner's thread, process and program, how long it has held the lock,\n"
               "levels held, waiters, how often the lock was taken over from a thread that\n"
               "died holding it, whether that recovery is blocked, and whether the table\n"
               "hosts share is saved in dlmgr.dat. For finding a host that holds the store.\n"
               "Reads only.\n";
    }
    if (command == "log") {
        return "usage: dlmgrctl log [--follow] [--utf8] [--english]\n"
               "Prints the library's log (its path first) in the console's text, or in UTF-8\n"
               "with --utf8: its messages from code page 936, the task text in them from the\n"
               "system's code page, as hosts store it, and task ids in the order list shows\n"
               "them. Each message the library writes shows its meaning in English beside\n"
               "it, in [ ], unless the console's code page is 936 (--english: always).\n"
               "--follow keeps printing new lines until Ctrl+C. By default the library logs\n"
               "only failures; dlmgrctl config set DlmgrLogLevel 0 logs every step of the\n"
               "hosts that load the library after it. Reads only.\n";
    }
    if (command == "config") {
        return "usage: dlmgrctl config [list] [--json]\n"
               "       dlmgrctl config get NAME\n"
               "       dlmgrctl config set NAME VALUE [--machine]\n"
               "       dlmgrctl config remove NAME [--machine]\n"
               "Lists every setting with the key it comes from (user, machine, or not set)\n"
               "and what applies when it is unset; sets or removes one in the user key (or\n"
               "the machine key with --machine) and says when hosts read it. NAME \"default\"\n"
               "is the machine key's unnamed value, the installation folder. Values the\n"
               "library cannot use are shown.\n"
               "list reads only; set and remove change the registry, never the table.\n";
    }
    if (command == "hold") {
        return "usage: dlmgrctl hold [--seconds N]\n"
               "Holds the task store for N seconds (default 10), as a host does between\n"
               "counting and copying a list: to see how hosts and dlmgrctl wait. Loads the\n"
               "library; when no host had the table open, says how many tasks its start-up\n"
               "purged.\n";
    }
    if (command == "host") {
        return "usage: dlmgrctl host [--seconds N]\n"
               "Loads the library and keeps the table open, as a running host does, until\n"
               "Ctrl+C (or for N seconds): the table then lives on between other commands.\n"
               "When no host had it open, says how many tasks the library's start-up purged.\n";
    }
    return "dlmgrctl " DLMGR_VERSION ": a console host of dlmgr.dll\n"
           "usage: dlmgrctl COMMAND [ARGS] [--timeout SECONDS]\n"
           "  list [running|stopped|all] [--json]   the tasks and change counters\n"
           "  watch [--interval MS] [--count N]     print changes as they happen\n"
           "  set --id HEX --kind K --status S --file PATH [--torrent NAME] [--source TEXT]\n"
           "      [--any-status]                    register a task\n"
           "  open|resume|again|delete ID           act on a task\n"
           "  inspect [PATH] [--json]               check a data file offline\n"
           "  lock [--json]                         who holds the store lock\n"
           "  log [--follow] [--utf8] [--english]   the library's log, readable\n"
           "  config [list] [--json] | get NAME | set NAME VALUE [--machine]\n"
           "      | remove NAME [--machine]         the settings, their keys\n"
           "  hold [--seconds N]                    hold the store, as a listing host does\n"
           "  host [--seconds N]                    keep the table open, as a running host does\n"
           "dlmgrctl help COMMAND or COMMAND --help for more; dlmgrctl version (or -v,\n"
           "--version) for this tool's and dlmgr.dll's versions. Options take \"--name\n"
           "value\" or \"--name=value\"; --timeout goes before or after the command. While\n"
           "the store is held, dlmgrctl says by whom after a second; --timeout gives up\n"
           "after SECONDS (0: at the first look that finds it held). Exit codes: 0 done,\n"
           "1 refused, 2 bad usage or unreadable input, 3 dlmgr.dll cannot be loaded.\n";
}

std::string VersionText(std::string& problem) {
    const std::string sdkFolder = kOwnBits == 64 ? "bin\\x64\\" : "bin\\";
    std::string text = "dlmgrctl " DLMGR_VERSION " (" + std::to_string(kOwnBits) + "-bit)\n";
    const std::string module = ModuleBesideUs();
    DWORD ignored = 0;
    const DWORD size = ::GetFileVersionInfoSizeA(module.c_str(), &ignored);
    std::vector<char> info(size);
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT fixedSize = 0;
    if (size == 0 || !::GetFileVersionInfoA(module.c_str(), 0, size, info.data()) ||
        !::VerQueryValueA(info.data(), "\\", reinterpret_cast<void**>(&fixed), &fixedSize) ||
        fixed == nullptr) {
        problem = "no dlmgr.dll with a version beside dlmgrctl.exe: the SDK has it in " + sdkFolder;
        return text;
    }
    const int bits = BitsOfImage(module);
    if (bits != kOwnBits) {
        problem = "this dlmgrctl cannot load that dlmgr.dll: it needs the " +
                  std::to_string(kOwnBits) + "-bit one, in the SDK's " + sdkFolder;
    }
    return text + "dlmgr.dll " + std::to_string(HIWORD(fixed->dwFileVersionMS)) + "." +
           std::to_string(LOWORD(fixed->dwFileVersionMS)) + "." +
           std::to_string(HIWORD(fixed->dwFileVersionLS)) + " (" + std::to_string(bits) + "-bit, " +
           module + ")\n";
}

}  // namespace dlmgrctl
