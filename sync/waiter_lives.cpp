#include "sync/waiter_lives.h"

#include "sync/thread_life.h"

namespace dlmgr {

namespace {

// One wait that takes nothing: a life mutex it returns has ended.
bool AnyOf(const HANDLE* lives, DWORD count) noexcept {
    const DWORD wait = ::WaitForMultipleObjects(count, lives, FALSE, 0);
    if (wait < WAIT_OBJECT_0 + count) return EndedByWait(lives[wait - WAIT_OBJECT_0], WAIT_OBJECT_0);
    if (wait >= WAIT_ABANDONED_0 && wait < WAIT_ABANDONED_0 + count) {
        return EndedByWait(lives[wait - WAIT_ABANDONED_0], WAIT_ABANDONED);
    }
    return false;
}

}  // namespace

bool WaiterLives::AnyEnded(const OptexSideBlock& side, const OptexThreadSlot* self,
                           const char* lockName) noexcept {
    HANDLE batch[MAXIMUM_WAIT_OBJECTS];
    DWORD count = 0;
    for (int i = 0; i < kOptexSlotCount; ++i) {
        const OptexThreadSlot& record = side.slots[i];
        const LONG state = record.state;
        const LONG life = record.life;
        if (&record == self || record.threadId == 0 || life == 0 ||
            (state != kSlotWaiting && state != kSlotClaiming)) {
            continue;
        }
        if (lives_[i] != life) {
            // Opened by the life's number, never by a value read from the record.
            bool ended = false;
            handles_[i] = OpenLife(lockName, life, ended);
            lives_[i] = handles_[i] ? life : 0;
            if (ended) return true;
            if (!handles_[i]) continue;
        }
        batch[count++] = handles_[i].get();
        if (count == MAXIMUM_WAIT_OBJECTS) {
            if (AnyOf(batch, count)) return true;
            count = 0;
        }
    }
    return count != 0 && AnyOf(batch, count);
}

void WaiterLives::Close() noexcept {
    for (int i = 0; i < kOptexSlotCount; ++i) {
        handles_[i].reset();
        lives_[i] = 0;
    }
}

}  // namespace dlmgr
