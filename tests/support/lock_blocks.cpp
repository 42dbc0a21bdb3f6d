#include "tests/support/lock_blocks.h"

#include "sync/optex.h"
#include "win/tick_count.h"

namespace dlmgr::test {

namespace {

UniqueView MapByName(UniqueMapping& mapping, const std::string& name) {
    mapping.reset(::OpenFileMappingA(FILE_MAP_ALL_ACCESS, FALSE, name.c_str()));
    return UniqueView(mapping ? ::MapViewOfFile(mapping.get(), FILE_MAP_ALL_ACCESS, 0, 0, 0)
                              : nullptr);
}

DWORD WINAPI RecordIdentity(void* identity) {
    *static_cast<ThreadIdentity*>(identity) = CurrentThreadIdentity();
    return 0;
}

}  // namespace

bool InitLock(Optex& lock, const std::string& name, DWORD processors) {
    return lock.Init(name.c_str(), false, 4000, processors);
}

LONG LockCount(const Optex& lock) { return lock.Shared()->lockCount; }

LockBlocks::LockBlocks(const std::string& lockName)
    : sharedView_(MapByName(sharedMapping_, Optex::kMappingPrefix + lockName)),
      sideView_(MapByName(sideMapping_, Optex::kSidePrefix + lockName)) {
    peers_.reset(::OpenEventA(SYNCHRONIZE, FALSE, (OptexPeers::kPrefix + lockName).c_str()));
}

void LockBlocks::SetShared(LONG lockCount, LONG ownerThreadId, LONG recursionCount) {
    shared().lockCount = lockCount;
    shared().ownerThreadId = ownerThreadId;
    shared().recursionCount = recursionCount;
}

void LockBlocks::PlantRecord(const ThreadIdentity& identity, LONG state, DWORD ageMs, int index,
                             LONG life) {
    OptexThreadSlot& slot = side().slots[index];
    slot.life = life;
    slot.processId = static_cast<LONG>(identity.processId);
    slot.creationLow = static_cast<LONG>(identity.creationTime & 0xFFFFFFFFu);
    slot.creationHigh = static_cast<LONG>(identity.creationTime >> 32);
    slot.tick = static_cast<LONG>(TickCountNow() - ageMs);
    slot.threadId = static_cast<LONG>(identity.threadId);
    slot.state = state;
}

void LockBlocks::FillFreeRecords(const ThreadIdentity& identity) {
    for (int i = 0; i < kOptexSlotCount; ++i) {
        if (side().slots[i].threadId == 0) PlantRecord(identity, kSlotIdle, 0, i);
    }
}

int LockBlocks::FindRecord(DWORD processId, LONG state) {
    for (int i = 0; i < kOptexSlotCount; ++i) {
        const OptexThreadSlot& slot = side().slots[i];
        if (slot.threadId != 0 && slot.processId == static_cast<LONG>(processId) &&
            slot.state == state) {
            return i;
        }
    }
    return -1;
}

ThreadIdentity EndedThreadIdentity() {
    ThreadIdentity identity;
    UniqueThread thread(::CreateThread(nullptr, 0, RecordIdentity, &identity, 0, nullptr));
    if (thread) ::WaitForSingleObject(thread.get(), INFINITE);
    return identity;
}

int LockBlocks::FindRecordOf(DWORD threadId) {
    for (int i = 0; i < kOptexSlotCount; ++i) {
        if (side().slots[i].threadId == static_cast<LONG>(threadId)) return i;
    }
    return -1;
}

}  // namespace dlmgr::test
