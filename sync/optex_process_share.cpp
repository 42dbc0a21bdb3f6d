#include "sync/optex_process_share.h"

#include <cstring>

namespace dlmgr {

namespace {

HANDLE AsHandle(std::uint64_t value) {
    return reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(value));
}

std::uint64_t AsValue(HANDLE handle) {
    return static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(handle));
}

bool AllocateTls(volatile LONG& field) {
    if (field != 0) return true;
    const DWORD index = ::TlsAlloc();
    if (index == TLS_OUT_OF_INDEXES) return false;
    field = static_cast<LONG>(index) + 1;
    return true;
}

// TLS_MINIMUM_AVAILABLE plus the expansion slots: no index is beyond.
constexpr LONG kTlsIndexLimit = 1088;

bool TlsFieldInRange(LONG field) { return field >= 0 && field <= kTlsIndexLimit; }

// What a copy of the module can have left: users counted, TLS indexes of
// this process, and this generation's stamp (nothing else writes under its
// name). With no users, nothing in it is anyone's: it is cleared, no handle
// closed.
bool TakeBlock(OptexProcessBlock& block) {
    if (block.users == 0) {
        block.slotTls = 0;
        block.markerTls = 0;
        for (std::uint64_t& life : block.lifeHandles) life = 0;
        block.stamp = kProcessBlockStamp;
        return true;
    }
    return block.users > 0 && TlsFieldInRange(block.slotTls) &&
           TlsFieldInRange(block.markerTls) && block.stamp == kProcessBlockStamp;
}

}  // namespace

bool OptexProcessShare::Attach(const char* lockName) noexcept {
    char name[160];
    if (std::strlen(kPrefix) + std::strlen(lockName) + 10 > sizeof(name)) return false;
    ::wsprintfA(name, "%s%08lX_%s", kPrefix, ::GetCurrentProcessId(), lockName);
    mapping_.reset(::CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                        sizeof(OptexProcessBlock), name));
    if (mapping_) view_.reset(::MapViewOfFile(mapping_.get(), FILE_MAP_ALL_ACCESS, 0, 0, 0));
    if (!view_) {
        mapping_.reset();
        return false;
    }
    auto* block = static_cast<OptexProcessBlock*>(view_.get());
    namer_.Resolve();
    // Another lock's lives, and every other object of the process, are never
    // closed as ours.
    char prefix[kLifeNameSize];
    const bool named = LifeNamePrefix(prefix, lockName) &&
                       ::MultiByteToWideChar(CP_ACP, 0, prefix, -1, lifePrefix_, kLifeNameSize) != 0;
    if (!named || !TakeBlock(*block) ||
        !AllocateTls(block->slotTls) || !AllocateTls(block->markerTls)) {
        view_.reset();
        mapping_.reset();
        return false;
    }
    ++block->users;
    block_ = block;
    return true;
}

void OptexProcessShare::Detach() noexcept {
    if (block_ == nullptr) return;
    if (--block_->users == 0) {
        for (std::uint64_t& life : block_->lifeHandles) CloseLife(life, false);
        // Freed only by the last user: every copy reads these slots.
        UniqueTlsSlot(SlotTls()).reset();
        UniqueTlsSlot(MarkerTls()).reset();
        block_->slotTls = 0;
        block_->markerTls = 0;
    }
    Drop();
}

void OptexProcessShare::Drop() noexcept {
    block_ = nullptr;
    view_.reset();
    mapping_.reset();
}

void OptexProcessShare::KeepLife(int index, UniqueMutex life) noexcept {
    CloseLife(block_->lifeHandles[index], false);
    block_->lifeHandles[index] = AsValue(life.release());
}

void OptexProcessShare::EndLife(int index) noexcept {
    CloseLife(block_->lifeHandles[index], true);
}

void OptexProcessShare::CloseLife(std::uint64_t& value, bool release) const noexcept {
    const std::uint64_t found = value;
    value = 0;
    if (found == 0 || !namer_.NameStartsWith(AsHandle(found), lifePrefix_)) return;
    if (release) ::ReleaseMutex(AsHandle(found));
    // Wrapped only to be closed.
    UniqueMutex life(AsHandle(found));
}

}  // namespace dlmgr
