#include "tools/dlmgrctl/store_inspection.h"

#include <windows.h>

#include <algorithm>
#include <cstring>

#include "module/data_directory.h"
#include "store/task_id.h"
#include "tools/dlmgrctl/task_text.h"
#include "win/unique_resource.h"

namespace dlmgrctl {

StoreReport InspectStore(const std::string& bytes, long long fileSize) {
    StoreReport report;
    report.fileSize = fileSize < 0 ? static_cast<long long>(bytes.size()) : fileSize;
    if (report.fileSize != static_cast<long long>(sizeof(dlmgr::StoreBlock))) {
        report.problems.push_back("size is " + std::to_string(report.fileSize) + " bytes, expected " +
                                  std::to_string(sizeof(dlmgr::StoreBlock)));
    }
    if (bytes.size() < sizeof(dlmgr::StoreHeader)) {
        report.problems.push_back("file too short for a header");
        return report;
    }
    std::memcpy(&report.header, bytes.data(), sizeof(report.header));
    if (report.header.magic != dlmgr::kStoreMagic) {
        report.problems.push_back("magic is " + std::to_string(report.header.magic) +
                                  ", expected 2: the library would reset this store");
    }
    std::uint32_t count = report.header.taskCount;
    if (count > dlmgr::kMaxTasks) {
        report.problems.push_back("task count " + std::to_string(count) + " is above 512");
        count = dlmgr::kMaxTasks;
    }
    const size_t available = (bytes.size() - sizeof(dlmgr::StoreHeader)) / sizeof(TaskRecord);
    if (count > available) {
        report.problems.push_back("the file holds only " + std::to_string(available) + " of " +
                                  std::to_string(count) + " records");
        count = static_cast<std::uint32_t>(available);
    }
    // A text field filled to its width without a terminator is valid: hosts
    // read it within its width.
    for (std::uint32_t i = 0; i < count; ++i) {
        TaskRecord record;
        std::memcpy(&record, bytes.data() + sizeof(dlmgr::StoreHeader) + i * sizeof(TaskRecord),
                    sizeof(record));
        report.records.push_back(record);
        const std::string where = "record " + std::to_string(i) + " (" + FormatId(record.id) + ")";
        if (record.status < 0 || record.status > 7) {
            report.problems.push_back(where + ": status " + std::to_string(record.status) +
                                      " is outside 0..7");
        }
        for (std::uint32_t j = 0; j < i; ++j) {
            if (dlmgr::SameTaskId(report.records[j].id, record.id)) {
                report.problems.push_back(where + ": same id as record " + std::to_string(j));
                break;
            }
        }
    }
    return report;
}

bool TableIsFull(std::size_t tasks) { return tasks >= dlmgr::kMaxTasks; }

std::string DefaultDataFile() {
    char directory[dlmgr::kPathBufferSize];
    dlmgr::FindDataDirectory(directory);
    return std::string(directory) + "\\" + dlmgr::kDataFileName;
}

bool ReadFileStart(const std::string& path, std::size_t limit, std::string& bytes, long long* size) {
    // Shared every way: a reader never stands in the way of a host.
    dlmgr::UniqueFile file(::CreateFileA(path.c_str(), GENERIC_READ,
                                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                         nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    LARGE_INTEGER whole = {};
    ::GetFileSizeEx(file.get(), &whole);
    if (size != nullptr) *size = whole.QuadPart;
    char chunk[65536];
    DWORD read = 0;
    while (bytes.size() < limit &&
           ::ReadFile(file.get(), chunk, static_cast<DWORD>(std::min<std::size_t>(sizeof(chunk), limit - bytes.size())),
                      &read, nullptr) &&
           read > 0) {
        bytes.append(chunk, read);
    }
    return true;
}

}  // namespace dlmgrctl
