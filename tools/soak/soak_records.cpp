#include "tools/soak/soak_records.h"

#include <cstdio>
#include <cstring>

#include "store/task_store.h"

namespace soak {

namespace {

constexpr unsigned char kGuardByte = 0xA5;

}  // namespace

TaskRecord MakeRecord(int id, int status) {
    TaskRecord record;
    std::memset(&record, 0, sizeof(record));
    std::memcpy(record.id.bytes, "soak-task-id", 12);
    record.id.bytes[15] = static_cast<unsigned char>(id);
    record.kind = DLMGR_KIND_ENGINE;
    std::snprintf(record.filePath, sizeof(record.filePath), "C:\\soak\\%02d\\file-%02d.bin", id, id);
    std::snprintf(record.source, sizeof(record.source), "http://soak.invalid/%02d", id);
    // The tail of every field is written too: a torn copy shows anywhere.
    std::memset(record.torrentName, 'A' + id % 26, sizeof(record.torrentName) - 1);
    std::memset(record.reserved, id, sizeof(record.reserved));
    record.status = status;
    return record;
}

int IdOf(const TaskRecord& record) {
    const int id = record.id.bytes[15];
    return std::memcmp(record.id.bytes, "soak-task-id", 12) == 0 && id >= 1 && id <= kIdRange ? id
                                                                                              : 0;
}

bool IsWhole(const TaskRecord& record) {
    const int id = IdOf(record);
    if (id == 0) return false;
    TaskRecord expected = MakeRecord(id, record.status);
    return std::memcmp(&expected, &record, sizeof(record)) == 0 && record.status >= 0 &&
           record.status <= DLMGR_STATUS_CLOSED;
}

std::string CheckListing(const TaskRecord* records, unsigned count, int category) {
    if (count > DLMGR_MAX_TASKS) return "a count of " + std::to_string(count);
    bool seen[kIdRange + 1] = {};
    for (unsigned i = 0; i < count; ++i) {
        const TaskRecord& record = records[i];
        if (!IsWhole(record)) return "record " + std::to_string(i) + " is not whole";
        if (dlmgr::CategoryOfStatus(record.status) != category) {
            return "record " + std::to_string(i) + " of status " + std::to_string(record.status) +
                   " in category " + std::to_string(category);
        }
        const int id = IdOf(record);
        if (seen[id]) return "task " + std::to_string(id) + " listed twice";
        seen[id] = true;
    }
    if (!GuardIntact(records[count])) return "written past the count of " + std::to_string(count);
    return "";
}

void FillGuard(TaskRecord& guard) { std::memset(&guard, kGuardByte, sizeof(guard)); }

bool GuardIntact(const TaskRecord& guard) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(&guard);
    for (size_t i = 0; i < sizeof(guard); ++i) {
        if (bytes[i] != kGuardByte) return false;
    }
    return true;
}

}  // namespace soak
