// The records the soak registers, and the checks every listing passes: ids of
// the soak's range without duplicates, each record whole (every field as its
// id makes it), of the category asked for, and nothing written past the
// count.
#pragma once

#include <string>

#include "dlmgr.h"

namespace soak {

constexpr int kIdRange = 48;  // ids 1..kIdRange, so tasks meet and collide

TaskRecord MakeRecord(int id, int status);
int IdOf(const TaskRecord& record);  // 0 when the id is not one the soak writes

// Checks count records of category followed by an untouched guard record;
// empty when all is well, else what is wrong.
std::string CheckListing(const TaskRecord* records, unsigned count, int category);

// A record as the soak wrote it, whatever its status.
bool IsWhole(const TaskRecord& record);

// Fills the guard that must survive a copy of count records.
void FillGuard(TaskRecord& guard);
bool GuardIntact(const TaskRecord& guard);

}  // namespace soak
