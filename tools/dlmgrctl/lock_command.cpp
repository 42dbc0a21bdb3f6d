#include <cstdio>
#include <string>

#include "store/task_store.h"
#include "tools/dlmgrctl/commands.h"
#include "sync/optex_side.h"
#include "tools/dlmgrctl/lock_report.h"
#include "tools/dlmgrctl/options.h"
#include "tools/dlmgrctl/store_inspection.h"
#include "tools/dlmgrctl/table_backing.h"
#include "tools/dlmgrctl/task_text.h"

namespace dlmgrctl {

namespace {

std::string JsonOrNull(const std::string& text) { return text.empty() ? "null" : JsonString(text); }

void PrintJson(const LockReport& report, const std::string& kept, const std::string& notSaved) {
    std::printf("{\"lock\":\"%s\",\"inUse\":%s", dlmgr::kStoreLockName,
                report.inUse ? "true" : "false");
    if (report.inUse) {
        // What only a holder has is null while nobody holds the lock.
        const bool held = report.ownerThreadId != 0;
        const std::string heldFor =
            held && report.heldForMs >= 0 ? std::to_string(report.heldForMs) : "null";
        std::printf(",\"held\":%s,\"ownerThreadId\":%lu,\"ownerProcessId\":%lu,\"program\":%s,"
                    "\"ownerRuns\":%s,\"heldForMs\":%s,\"levels\":%ld,\"waiters\":%ld,"
                    "\"lockCount\":%ld,\"spinCount\":%ld,\"possiblyLeftLevels\":%ld,"
                    "\"takeovers\":%ld,\"usersWithoutRecords\":%ld,\"generation\":%ld,"
                    "\"olderGenerationProcesses\":%ld",
                    held ? "true" : "false", report.ownerThreadId, report.ownerProcessId,
                    held ? JsonString(report.program).c_str() : "null",
                    held ? (report.ownerRuns ? "true" : "false") : "null", heldFor.c_str(),
                    report.ownerThreadId != 0 ? report.recursionCount : 0, report.waiters,
                    report.lockCount, report.spinCount, report.possiblyLeft, report.takeovers,
                    report.usersWithoutRecords, static_cast<long>(dlmgr::kOptexGeneration),
                    report.olderProcesses);
    }
    std::printf(",\"recoveryMutexKept\":%s,\"notSaved\":%s}\n", JsonOrNull(kept).c_str(),
                JsonOrNull(notSaved).c_str());
}

}  // namespace

int RunLock(const Words& words) {
    const Options options(words, {}, {"json"});
    options.AtMostPositionals(0);
    // Read-only: looking must never change the lock.
    const LockReport report = ReadStoreLockReport();
    const std::string kept = report.inUse ? RecoveryMutexKept(dlmgr::kStoreLockName) : "";
    const std::string notSaved = TableNotSaved(DefaultDataFile());
    if (options.Has("json")) {
        PrintJson(report, kept, notSaved);
        return kExitDone;
    }
    if (!report.inUse) {
        std::printf("store lock: not in use (no process has the library loaded)\n");
    } else {
        std::printf("store lock %s\n  %s\n", dlmgr::kStoreLockName, DescribeHolder(report).c_str());
        std::printf("  %ld level(s), %ld waiter(s), lock count %ld, spin count %ld, %ld takeover(s)\n",
                    report.ownerThreadId != 0 ? report.recursionCount : 0, report.waiters,
                    report.lockCount, report.spinCount, report.takeovers);
        std::printf("  rules of generation %ld", static_cast<long>(dlmgr::kOptexGeneration));
        if (report.olderProcesses > 0) {
            std::printf(", beside %ld process(es) of a released generation (1.0.0 to 1.3.0), which\n"
                        "  keep records of their own",
                        report.olderProcesses);
        }
        std::printf("\n");
    }
    if (report.possiblyLeft > 0) {
        std::printf("  up to %ld level(s) may have been left counted by threads that died mid-step:\n"
                    "  the next host to own the lock settles them, once every user keeps thread "
                    "records\n",
                    report.possiblyLeft);
    }
    if (report.usersWithoutRecords > 0) {
        std::printf("  %ld handle(s) to the lock without thread records of this generation (a host\n"
                    "  of an earlier build or generation): a lost hand-over or a dead holder's\n"
                    "  reused thread id is recovered only once they are gone\n",
                    report.usersWithoutRecords);
    }
    if (!kept.empty()) std::printf("  %s\n", kept.c_str());
    if (!notSaved.empty()) std::printf("table: %s\n", notSaved.c_str());
    return kExitDone;
}

}  // namespace dlmgrctl
