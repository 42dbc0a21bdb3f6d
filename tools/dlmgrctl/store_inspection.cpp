#include "tools/dlmgrctl/store_inspection.h"

#include <windows.h>

#include <cstring>

#include "module/data_directory.h"
#include "store/task_id.h"
#include "tools/dlmgrctl/task_text.h"
#include "win/unique_resource.h"

namespace dlmgrctl {

StoreReport InspectStore(const std::string& bytes) {
    StoreReport report;
    report.fileSize = static_cast<long long>(bytes.size());
    if (bytes.size() != sizeof(dlmgr::StoreBlock)) {
        report.problems.push_back("size is " + std::to_string(bytes.size()) + " bytes, expected " +
                                  std::to_string(sizeof(dlmgr::StoreBlock)));
    }
    if (bytes.size() < sizeof(dlmgr::StoreHeader)) {
        report.problems.push_back("file too short for a header");
        return report;
    }
    std::memcpy(&report.header, bytes.data(), sizeof(report.header));
    if (report.header.magic != dlmgr::kStoreMagic) {
        report.problems.push_back("magic is " + std::to_string(report.header.magic) +
                                  ", expected 2: the module would reset this store");
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
        if (!FieldTerminated(record.torrentName, sizeof(record.torrentName))) {
            report.problems.push_back(where + ": torrentName has no terminator");
        }
        if (!FieldTerminated(record.filePath, sizeof(record.filePath))) {
            report.problems.push_back(where + ": filePath has no terminator");
        }
        if (!FieldTerminated(record.source, sizeof(record.source))) {
            report.problems.push_back(where + ": source has no terminator");
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

std::string DefaultDataFile() {
    char directory[dlmgr::kPathBufferSize];
    dlmgr::FindDataDirectory(directory);
    return std::string(directory) + "\\" + dlmgr::kDataFileName;
}

bool ReadFileBytes(const std::string& path, std::string& bytes) {
    // Shared every way: a reader never stands in the way of a host.
    dlmgr::UniqueFile file(::CreateFileA(path.c_str(), GENERIC_READ,
                                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                         nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    char chunk[65536];
    DWORD read = 0;
    while (::ReadFile(file.get(), chunk, sizeof(chunk), &read, nullptr) && read > 0) {
        bytes.append(chunk, read);
    }
    return true;
}

}  // namespace dlmgrctl
