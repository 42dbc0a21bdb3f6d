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

void SharedFileLogSink::Write(const char* format, va_list args) {
    // Without a usable lock the line is still written: losing diagnostics is
    // worse than the small chance of two lines meeting in the file.
    OptexGuard guard = lock_ ? lock_->Acquire() : OptexGuard();
    UniqueFile file = OpenForAppend(path_);
    if (!file) return;
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
