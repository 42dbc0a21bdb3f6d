// dlmgr_soak: processes of both pointer sizes use the table at random while
// they are killed at random; an oracle of the soak's own counts two live
// holders of the store at once, a watchdog counts threads that stop making
// progress, every listing and at the end the file are checked.
//   dlmgr_soak [--minutes N | --seconds N] [--processes N] [--peer PROGRAM] [--wrong-lock]
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "tools/soak/soak_oracle.h"
#include "tools/soak/soak_supervisor.h"
#include "tools/soak/soak_worker.h"

namespace {

std::string ProgramFolder() {
    char path[MAX_PATH];
    const DWORD length = ::GetModuleFileNameA(nullptr, path, sizeof(path));
    std::string own(path, length);
    return own.substr(0, own.find_last_of('\\'));
}

// The library the workers load: the shipped one, or the one built with a
// lock that gives up waiting, which only shows that the soak finds faults.
std::string LibraryPath(bool wrongLock) {
    return ProgramFolder() + (wrongLock ? "\\wrong-lock\\dlmgr.dll" : "\\dlmgr.dll");
}

// The other pointer size's soak, where the build beside ours keeps it.
std::string DefaultPeer() {
#ifdef DLMGR_OTHER_BUILD_BIN
    std::string path = ProgramFolder() + "\\" + DLMGR_OTHER_BUILD_BIN + "\\dlmgr_soak.exe";
    for (char& c : path) c = c == '/' ? '\\' : c;
    return ::GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES ? path : "";
#else
    return "";
#endif
}

int Usage() {
    std::fprintf(stderr,
                 "usage: dlmgr_soak [--minutes N | --seconds N] [--processes N (1-%d)]\n"
                 "                  [--peer OTHER_SIZE_DLMGR_SOAK.EXE] [--wrong-lock]\n",
                 soak::kMaxWorkers);
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    const bool wrongLock = argc > 1 && std::strcmp(argv[argc - 1], "--wrong-lock") == 0;
    if (argc >= 4 && std::strcmp(argv[1], "--worker") == 0) {
        return soak::RunWorker(argv[2], std::atoi(argv[3]), LibraryPath(wrongLock));
    }
    if (argc >= 3 && std::strcmp(argv[1], "--check") == 0) {
        return soak::RunFileCheck(LibraryPath(wrongLock), argv[2]);
    }
    soak::SoakOptions options;
    options.peerProgram = DefaultPeer();
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--minutes" && hasValue) {
            options.seconds = static_cast<unsigned>(std::atoi(argv[++i])) * 60;
        } else if (arg == "--seconds" && hasValue) {
            options.seconds = static_cast<unsigned>(std::atoi(argv[++i]));
        } else if (arg == "--processes" && hasValue) {
            options.processes = std::atoi(argv[++i]);
        } else if (arg == "--peer" && hasValue) {
            options.peerProgram = argv[++i];
        } else if (arg == "--wrong-lock") {
            options.wrongLock = true;
        } else {
            return Usage();
        }
    }
    if (options.processes < 1 || options.processes > soak::kMaxWorkers || options.seconds == 0) {
        return Usage();
    }
    return soak::RunSoak(options);
}
