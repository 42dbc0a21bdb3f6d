// Task identity: sixteen bytes compared as four 32-bit words.
#pragma once

#include <cstring>

#include "dlmgr.h"

namespace dlmgr {

inline bool SameTaskId(const TaskId& a, const TaskId& b) {
    return std::memcmp(a.bytes, b.bytes, sizeof(a.bytes)) == 0;
}

constexpr size_t kTaskIdTextSize = 33;

// The four little-endian words, each as "%08x": 32 lowercase hex digits.
void FormatTaskId(const TaskId& id, char (&text)[kTaskIdTextSize]);

}  // namespace dlmgr
