// What a host does with the exports, for child scenarios.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "tests/support/dlmgr_library.h"
#include "tests/support/store_file.h"

namespace dlmgr::test {

// Counts and copies one category; the copy gets one spare record filled
// with a marker so that a copy beyond the count is caught.
inline std::vector<TaskRecord> ListTasks(DlmgrLibrary& lib, int category) {
    const unsigned count = lib.GetTaskCount(category);
    std::vector<TaskRecord> records(count + 1);
    std::memset(records.data(), 0xEE, records.size() * sizeof(TaskRecord));
    EXPECT_EQ(lib.GetTaskInfo(records.data()), 1);
    const TaskRecord& spare = records.back();
    EXPECT_EQ(spare.id.bytes[0], 0xEE) << "copied beyond the count";
    records.pop_back();
    return records;
}

inline std::vector<int> ListIds(DlmgrLibrary& lib, int category) {
    std::vector<int> ids;
    for (const auto& record : ListTasks(lib, category)) ids.push_back(record.id.bytes[0]);
    return ids;
}

inline void Register(DlmgrLibrary& lib, const TaskRecord& record) {
    ASSERT_EQ(lib.SetTaskInfo(&record), 1);
}

// True when another thread can take and leave storeLock within the time-out.
bool StoreIsFreeForOthers(DlmgrLibrary& lib, DWORD timeoutMs = 5000);

}  // namespace dlmgr::test
