#include "sync/optex_peers.h"

#include <cstring>

#include "sync/older_generations.h"

namespace dlmgr {

bool OptexPeers::Open(const char* lockName, HANDLE block) noexcept {
    Close();
    char name[128];
    if (std::strlen(kPrefix) + std::strlen(lockName) >= sizeof(name)) return false;
    ::wsprintfA(name, "%s%s", kPrefix, lockName);
    peers_.reset(::CreateEventA(nullptr, TRUE, FALSE, name));
    if (!peers_) return false;
    block_ = block;
    counter_.Resolve();
    counter_.Verify(block);
    table_.Resolve();
    return true;
}

void OptexPeers::Close() noexcept {
    peers_.reset();
    block_ = nullptr;
}

bool OptexPeers::Unexplained(LONG& beyond) const noexcept {
    ULONG blocks = 0, peers = 0, again = 0;
    if (!peers_ || !counter_.Count(block_, blocks) || !counter_.Count(peers_.get(), peers) ||
        !counter_.Count(block_, again) || again != blocks) {
        return false;
    }
    beyond = static_cast<LONG>(blocks) - static_cast<LONG>(peers);
    if (beyond <= 0) return true;
    // Handles that cannot write the block hold no level: found only by the
    // system's table, and trusted only if the block's count stood meanwhile.
    HandleHolders holders;
    if (!table_.Holders(block_, SECTION_MAP_WRITE, holders) || !counter_.Count(block_, again) ||
        again != blocks) {
        return true;
    }
    beyond -= static_cast<LONG>(holders.readOnly);
    return true;
}

bool OptexPeers::OnlyOurs(ULONG ownMarker) const noexcept {
    LONG beyond = 0;
    return Unexplained(beyond) && beyond == static_cast<LONG>(ownMarker);
}

bool OptexPeers::OnlyRobust(ULONG ownMarker, const OlderGenerations& older) const noexcept {
    LONG beyond = 0;
    if (!Unexplained(beyond)) return false;
    if (beyond == static_cast<LONG>(ownMarker)) return true;
    const LONG theirs = older.Present() ? older.Instances(block_, counter_) : 0;
    return theirs > 0 && beyond == static_cast<LONG>(ownMarker) + theirs;
}

int OptexPeers::Writers(DWORD* processIds, int max) const noexcept {
    HandleHolders writers, ours;
    if (!table_.Holders(block_, SECTION_MAP_WRITE, writers)) return 0;
    // Processes of ours hold the peers' event too.
    if (!table_.Holders(peers_.get(), 0, ours)) ours = HandleHolders();
    int count = 0;
    for (int i = 0; i < writers.processCount && count < max; ++i) {
        bool recorded = false;
        for (int k = 0; k < ours.processCount && !recorded; ++k) {
            recorded = ours.processes[k] == writers.processes[i];
        }
        if (!recorded) processIds[count++] = writers.processes[i];
    }
    return count;
}

}  // namespace dlmgr
