// dlmgr.dat read and written directly, so the parent of a test never maps
// the store itself.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "store/task_store.h"

namespace dlmgr::test {

// The file's bytes as a block; missing bytes read as zero.
std::unique_ptr<StoreBlock> ReadStoreFile(const std::string& path);
// Writes the first size bytes of block.
void WriteStoreFile(const std::string& path, const StoreBlock& block,
                    size_t size = sizeof(StoreBlock));

std::unique_ptr<StoreBlock> EmptyStore();
TaskRecord MakeTaskRecord(unsigned char idByte, int status, int kind = DLMGR_KIND_ENGINE);
// Appends a record without counting a change, as a stored file would hold it.
void PutRecord(StoreBlock& block, const TaskRecord& record);
// Id bytes 0 of the records in use, in order.
std::vector<int> RecordIds(const StoreBlock& block);

// A record whose 32-bit id number is n (bytes 0..3), paused, with kind 7 (so
// that deleting it touches no file), sealed: its reserved bytes hold a
// checksum of the rest, so that a record torn by a death shows.
TaskRecord SealedRecord(std::uint32_t n);
bool IsSealed(const TaskRecord& record);
std::uint32_t IdNumber(const TaskRecord& record);

}  // namespace dlmgr::test
