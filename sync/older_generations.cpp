#include "sync/older_generations.h"

#include <cstring>

#include "sync/optex_census.h"
#include "sync/thread_identity.h"

namespace dlmgr {

namespace {

template <size_t Size>
bool Join(char (&out)[Size], const char* prefix, const char* name) {
    if (std::strlen(prefix) + std::strlen(name) >= Size) return false;
    ::wsprintfA(out, "%s%s", prefix, name);
    return true;
}

}  // namespace

OlderGenerations::OlderGenerations(const char* lockName) noexcept {
    char sideName[128];
    if (!Join(sideName, kSidePrefix, lockName) || !Join(recoveryName_, kRecoveryPrefix, lockName)) return;
    mapping_.reset(::OpenFileMappingA(FILE_MAP_READ | FILE_MAP_WRITE, FALSE, sideName));
    if (!mapping_) return;
    view_.reset(::MapViewOfFile(mapping_.get(), FILE_MAP_READ | FILE_MAP_WRITE, 0, 0,
                                sizeof(OptexSideBlock)));
    auto* side = static_cast<OptexSideBlock*>(view_.get());
    // Another layout under their name is nobody's records.
    if (side != nullptr && side->magic == kSideMagic) side_ = side;
}

LONG OlderGenerations::Instances(HANDLE block, const HandleCounter& counter) const noexcept {
    // One more handle of the block first: while ours of their mutex is open,
    // our process still holds more of the block than of their mutex.
    HANDLE extra = nullptr;
    if (!::DuplicateHandle(::GetCurrentProcess(), block, ::GetCurrentProcess(), &extra, 0, FALSE,
                           DUPLICATE_SAME_ACCESS)) {
        return -1;
    }
    const UniqueMapping more(extra);
    const UniqueMutex mutex(::OpenMutexA(SYNCHRONIZE, FALSE, recoveryName_));
    if (!mutex) return ::GetLastError() == ERROR_FILE_NOT_FOUND ? 0 : -1;
    ULONG handles = 0;
    return counter.Count(mutex.get(), handles) ? static_cast<LONG>(handles) - 1 : -1;
}

bool OlderGenerations::HasOwnerRecord(LONG threadId) const noexcept {
    if (side_ == nullptr || threadId == 0) return false;
    for (const OptexThreadSlot& record : side_->slots) {
        if (record.threadId == threadId && MayOwn(record.state)) return true;
    }
    return false;
}

bool OlderGenerations::AnyLiveMidStep() const noexcept {
    if (side_ == nullptr) return false;
    for (const OptexThreadSlot& record : side_->slots) {
        const LONG state = record.state;
        if (record.threadId == 0 || !MidStep(state)) continue;
        // Their lives may be stale: the ids decide.
        if (!IsProvenDead(IdentityOf(record))) return true;
    }
    return false;
}

void OlderGenerations::MarkTakenOver(LONG threadId) const noexcept {
    if (side_ == nullptr || threadId == 0) return;
    for (OptexThreadSlot& record : side_->slots) {
        if (record.threadId == threadId && SurelyOwned(record.state)) {
            // By compare-exchange: their recoverer may free and reuse it meanwhile.
            ::InterlockedCompareExchange(&record.threadId, kTakenOverThreadId, threadId);
        }
    }
}

}  // namespace dlmgr
