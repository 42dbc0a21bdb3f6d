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

void CloseLife(std::uint64_t& value) {
    if (value == 0) return;
    // Wrapped only to be closed.
    UniqueMutex life(AsHandle(value));
    value = 0;
}

bool AllocateTls(volatile LONG& field) {
    if (field != 0) return true;
    const DWORD index = ::TlsAlloc();
    if (index == TLS_OUT_OF_INDEXES) return false;
    field = static_cast<LONG>(index) + 1;
    return true;
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
    if (!AllocateTls(block->slotTls) || !AllocateTls(block->markerTls)) {
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
        for (std::uint64_t& life : block_->lifeHandles) CloseLife(life);
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
    CloseLife(block_->lifeHandles[index]);
    block_->lifeHandles[index] = AsValue(life.release());
}

void OptexProcessShare::EndLife(int index) noexcept {
    std::uint64_t& value = block_->lifeHandles[index];
    if (value == 0) return;
    ::ReleaseMutex(AsHandle(value));
    CloseLife(value);
}

}  // namespace dlmgr
