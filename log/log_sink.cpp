#include "log/log_sink.h"

#include "log/log_line.h"
#include "log/messages.h"

namespace dlmgr {

namespace {

UniqueFile OpenForAppend(const char* path) {
    return UniqueFile(::CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
}

}  // namespace

void LogSink::Write(const char*, va_list) {}

FileLogSink::FileLogSink(const char* path) : file_(OpenForAppend(path)) {}

void FileLogSink::Write(const char* format, va_list args) {
    if (file_) AppendLogLine(file_.get(), format, args);
}

SharedFileLogSink::SharedFileLogSink(const char* path, std::unique_ptr<Optex> lock)
    : lock_(std::move(lock)), path_() {
    ::lstrcpynA(path_, path, sizeof(path_));
}

// Lines dropped since the last one written are counted before the sink goes
// (the process detaches): with the log's lock if it comes at once, without it
// otherwise, as a line written without a usable lock is.
SharedFileLogSink::~SharedFileLogSink() {
    const LONG dropped = ::InterlockedExchange(&dropped_, 0);
    if (dropped == 0) return;
    const OptexGuard guard = lock_ && lock_->IsUsable() ? lock_->AcquireWithin(0) : OptexGuard();
    const UniqueFile file = OpenForAppend(path_);
    if (file) WriteLogLine(file.get(), messages::kLogLinesDropped, static_cast<unsigned long>(dropped));
}

OptexGuard SharedFileLogSink::TakeLock() {
    const LONG owner = lock_->Shared()->ownerThreadId;
    const DWORD now = ::GetTickCount();
    const bool stillStuck = dropped_ != 0 && owner != 0 && owner == stuckOwner_ &&
                            now - static_cast<DWORD>(stuckSince_) < kStuckRetryMs;
    OptexGuard guard = lock_->AcquireWithin(stillStuck ? 0 : kLockWaitMs);
    if (!guard && !stillStuck) {
        ::InterlockedExchange(&stuckOwner_, lock_->Shared()->ownerThreadId);
        ::InterlockedExchange(&stuckSince_, static_cast<LONG>(::GetTickCount()));
    }
    return guard;
}

void SharedFileLogSink::Write(const char* format, va_list args) {
    // Without a usable lock the line is still written: losing diagnostics is
    // worse than the small chance of two lines meeting in the file.
    const bool locked = lock_ && lock_->IsUsable();
    OptexGuard guard = locked ? TakeLock() : OptexGuard();
    if (locked && !guard) {
        ::InterlockedIncrement(&dropped_);
        return;
    }
    UniqueFile file = OpenForAppend(path_);
    if (!file) return;
    const LONG dropped = ::InterlockedExchange(&dropped_, 0);
    if (dropped != 0) {
        WriteLogLine(file.get(), messages::kLogLinesDropped, static_cast<unsigned long>(dropped));
    }
    if (guard.abandoned()) {
        // A writer died holding the log: its line may be cut short, so the
        // takeover gets a line of its own before ours.
        const ThreadIdentity& holder = lock_->AbandonedBy();
        WriteLogLine(file.get(), messages::kLogLockTakenOver,
                     static_cast<unsigned long>(holder.processId),
                     static_cast<unsigned long>(holder.threadId));
    }
    AppendLogLine(file.get(), format, args);
}

}  // namespace dlmgr
