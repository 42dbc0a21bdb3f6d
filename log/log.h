// The process-wide log: one sink, one threshold. Levels: 0 lookups and
// completed actions, 1 start-up and the start of each action, 2 refusals by
// status, 4 missing settings and refusals by kind, 8 failed assertions.
#pragma once

namespace dlmgr {

constexpr int kLogSpinCount = 4000;

// No path: a sink that writes nothing. A path and a lock name: the shared
// file sink. A path alone: a file kept open by this process.
void CreateLogSink(const char* path, const char* lockName);
void DestroyLogSink();
// Frees the calling thread's record in the log lock; for a thread that ends.
void ForgetLogThread();
void SetLogThreshold(int level);

// True when a message of this level would be written, so a caller can skip
// preparing arguments nobody keeps.
bool LogEnabled(int level);

// Writes one line when level >= the threshold (signed); arguments are not
// formatted otherwise. Without a sink the line is dropped.
void Log(int level, const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(gnu_printf, 2, 3)))
#endif
    ;

}  // namespace dlmgr
