#include "tests/support/store_file.h"

#include <cstddef>
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

namespace {

std::uint32_t Checksum(const TaskRecord& record) {
    std::uint32_t hash = 2166136261u;  // FNV-1a over everything before reserved
    const auto* bytes = reinterpret_cast<const unsigned char*>(&record);
    for (size_t i = 0; i < offsetof(TaskRecord, reserved); ++i) hash = (hash ^ bytes[i]) * 16777619u;
    return hash;
}

}  // namespace

TaskRecord SealedRecord(std::uint32_t n) {
    TaskRecord record;
    std::memset(&record, 0, sizeof(record));
    std::memcpy(record.id.bytes, &n, sizeof(n));
    record.kind = 7;
    record.status = DLMGR_STATUS_PAUSED;
    std::snprintf(record.filePath, sizeof(record.filePath), "C:\\sealed\\%u.bin", n);
    std::memset(record.source, static_cast<int>('a' + n % 26), sizeof(record.source) - 1);
    const std::uint32_t sum = Checksum(record);
    std::memcpy(record.reserved, &sum, sizeof(sum));
    return record;
}

bool IsSealed(const TaskRecord& record) {
    std::uint32_t sum;
    std::memcpy(&sum, record.reserved, sizeof(sum));
    return sum == Checksum(record);
}

std::uint32_t IdNumber(const TaskRecord& record) {
    std::uint32_t n;
    std::memcpy(&n, record.id.bytes, sizeof(n));
    return n;
}

}  // namespace dlmgr::test
