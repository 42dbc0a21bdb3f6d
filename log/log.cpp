#include "log/log.h"

#include <cstdarg>
#include <memory>
#include <new>

#include "log/log_sink.h"
#include "sync/optex.h"

namespace dlmgr {

namespace {

// Set once at start-up and cleared at shutdown, both on the loader's thread
// while no export runs; read plainly by every thread in between.
LogSink* processSink = nullptr;
Optex* processLogLock = nullptr;  // owned by the shared sink, when there is one
int logThreshold = 8;

}  // namespace

void CreateLogSink(const char* path, const char* lockName) {
    DestroyLogSink();
    if (path == nullptr) {
        processSink = new (std::nothrow) LogSink();
    } else if (lockName != nullptr) {
        std::unique_ptr<Optex> lock(new (std::nothrow) Optex());
        if (lock) lock->Init(lockName, false, kLogSpinCount);
        Optex* lockOfSink = lock.get();
        processSink = new (std::nothrow) SharedFileLogSink(path, std::move(lock));
        if (processSink != nullptr) processLogLock = lockOfSink;
    } else {
        processSink = new (std::nothrow) FileLogSink(path);
    }
}

void DestroyLogSink() {
    delete processSink;
    processSink = nullptr;
    processLogLock = nullptr;
}

void ForgetLogThread() {
    if (processLogLock != nullptr) processLogLock->ForgetCurrentThread();
}

void SetLogThreshold(int level) { logThreshold = level; }

bool LogEnabled(int level) { return level >= logThreshold && processSink != nullptr; }

void Log(int level, const char* format, ...) {
    if (!LogEnabled(level)) return;
    va_list args;
    va_start(args, format);
    processSink->Write(format, args);
    va_end(args);
}

}  // namespace dlmgr
