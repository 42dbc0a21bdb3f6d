// Where log lines go. LogSink writes nothing; FileLogSink appends through a
// file kept open; SharedFileLogSink opens, appends and closes the file for
// every line under a named Optex, so processes sharing the file never
// interleave within a line.
#pragma once

#include <windows.h>

#include <cstdarg>
#include <memory>

#include "sync/optex.h"
#include "win/unique_resource.h"

namespace dlmgr {

// The Optex every process of the module writes the shared log under.
constexpr char kLogLockName[] = "{01408cfb-bb60-4634-82e2-5c0e378f88a6}";

class LogSink {
public:
    LogSink() = default;
    LogSink(const LogSink&) = delete;
    LogSink& operator=(const LogSink&) = delete;
    virtual ~LogSink() = default;
    virtual void Write(const char* format, va_list args);
};

class FileLogSink : public LogSink {
public:
    explicit FileLogSink(const char* path);
    void Write(const char* format, va_list args) override;

private:
    UniqueFile file_;
};

class SharedFileLogSink : public LogSink {
public:
    static constexpr size_t kPathSize = 256;

    // How long a line waits for the log's lock before it is dropped: long
    // enough for writers that take turns, and for two looks at a holder that
    // died, which is then recovered. While the holder that made a line drop
    // keeps the lock, later lines try once, and wait again only this often.
    static constexpr DWORD kLockWaitMs = 2000;
    static constexpr DWORD kStuckRetryMs = 10000;

    // lock may be null or unusable: lines are then written without it.
    SharedFileLogSink(const char* path, std::unique_ptr<Optex> lock);
    ~SharedFileLogSink() override;
    void Write(const char* format, va_list args) override;

private:
    OptexGuard TakeLock();

    std::unique_ptr<Optex> lock_;
    char path_[kPathSize];
    // Lines dropped since the last one written: a live thread that holds
    // the log's lock (a stuck or suspended host) never holds up ours.
    volatile LONG dropped_ = 0;
    volatile LONG stuckOwner_ = 0;    // the owner field when the last wait gave up
    volatile LONG stuckSince_ = 0;    // and the tick count then
};

}  // namespace dlmgr
