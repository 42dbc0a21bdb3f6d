#include "tests/support/store_file.h"

#include <cstdio>
#include <cstring>

#include "tests/support/temp_folder.h"

namespace dlmgr::test {

std::unique_ptr<StoreBlock> ReadStoreFile(const std::string& path) {
    std::unique_ptr<StoreBlock> block(new StoreBlock());
    std::memset(block.get(), 0, sizeof(StoreBlock));
    const std::string content = ReadWholeFile(path);
    std::memcpy(block.get(), content.data(), std::min(content.size(), sizeof(StoreBlock)));
    return block;
}

void WriteStoreFile(const std::string& path, const StoreBlock& block, size_t size) {
    WriteWholeFile(path, std::string(reinterpret_cast<const char*>(&block), size));
}

std::unique_ptr<StoreBlock> EmptyStore() {
    std::unique_ptr<StoreBlock> block(new StoreBlock());
    std::memset(block.get(), 0, sizeof(StoreBlock));
    InitialiseHeader(block->header);
    return block;
}

TaskRecord MakeTaskRecord(unsigned char idByte, int status, int kind) {
    TaskRecord record;
    std::memset(&record, 0, sizeof(record));
    record.id.bytes[0] = idByte;
    record.id.bytes[15] = 0x5A;
    record.kind = kind;
    record.status = status;
    std::snprintf(record.filePath, sizeof(record.filePath), "C:\\downloads\\file%u.bin", idByte);
    std::memset(record.reserved, idByte, sizeof(record.reserved));
    return record;
}

void PutRecord(StoreBlock& block, const TaskRecord& record) {
    block.records[block.header.taskCount++] = record;
}

std::vector<int> RecordIds(const StoreBlock& block) {
    std::vector<int> ids;
    for (std::uint32_t i = 0; i < block.header.taskCount && i < kMaxTasks; ++i) {
        ids.push_back(block.records[i].id.bytes[0]);
    }
    return ids;
}

}  // namespace dlmgr::test
