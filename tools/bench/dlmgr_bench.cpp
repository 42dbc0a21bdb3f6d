// Measures the lock and the cheapest export side by side in one run, so the
// ratios hold on a noisy machine: an uncontended Optex against a critical
// section and a named kernel mutex, two threads contending, and the cost of
// polling DM_GetTimeStamp through the DLL.
#include <windows.h>

#include <cstdio>
#include <functional>

#include "dlmgr.h"
#include "sync/optex.h"
#include "tests/support/legacy_optex.h"
#include "win/unique_resource.h"

namespace {

constexpr int kRounds = 200000;

double NanosecondsPerCall(const std::function<void()>& call, int rounds = kRounds) {
    LARGE_INTEGER frequency, start, stop;
    ::QueryPerformanceFrequency(&frequency);
    for (int i = 0; i < 1000; ++i) call();  // warm up
    ::QueryPerformanceCounter(&start);
    for (int i = 0; i < rounds; ++i) call();
    ::QueryPerformanceCounter(&stop);
    return 1e9 * static_cast<double>(stop.QuadPart - start.QuadPart) / frequency.QuadPart / rounds;
}

DWORD WINAPI RepeatQuarterRounds(void* work) {
    const auto& call = *static_cast<const std::function<void()>*>(work);
    for (int i = 0; i < kRounds / 4; ++i) call();
    return 0;
}

// Two threads each take and leave the lock a quarter of the rounds; ns per pair.
double Contended(const std::function<void()>& enterLeave) {
    void* job = const_cast<std::function<void()>*>(&enterLeave);
    LARGE_INTEGER frequency, start, stop;
    ::QueryPerformanceFrequency(&frequency);
    ::QueryPerformanceCounter(&start);
    dlmgr::UniqueThread a(::CreateThread(nullptr, 0, RepeatQuarterRounds, job, 0, nullptr));
    dlmgr::UniqueThread b(::CreateThread(nullptr, 0, RepeatQuarterRounds, job, 0, nullptr));
    ::WaitForSingleObject(a.get(), INFINITE);
    ::WaitForSingleObject(b.get(), INFINITE);
    ::QueryPerformanceCounter(&stop);
    return 1e9 * static_cast<double>(stop.QuadPart - start.QuadPart) / frequency.QuadPart /
           (kRounds / 2);
}

}  // namespace

int main() {
    dlmgr::Optex optex;
    char name[64];
    std::snprintf(name, sizeof(name), "dlmgr-bench-%lu", ::GetCurrentProcessId());
    if (!optex.Init(name, false, 4000)) {
        std::fprintf(stderr, "cannot create the Optex\n");
        return 1;
    }
    dlmgr::test::LegacyOptex legacy;
    std::snprintf(name, sizeof(name), "dlmgr-bench-legacy-%lu", ::GetCurrentProcessId());
    if (!legacy.Init(name)) {
        std::fprintf(stderr, "cannot create the earlier build's lock\n");
        return 1;
    }
    CRITICAL_SECTION section;
    ::InitializeCriticalSectionAndSpinCount(&section, 4000);
    dlmgr::UniqueMutex mutex(::CreateMutexA(nullptr, FALSE, nullptr));
    volatile long shared = 0;

    auto optexPair = [&] { optex.Enter(); ++shared; optex.Leave(); };
    auto legacyPair = [&] { legacy.Enter(); ++shared; legacy.Leave(); };
    auto sectionPair = [&] { ::EnterCriticalSection(&section); ++shared; ::LeaveCriticalSection(&section); };
    auto mutexPair = [&] { ::WaitForSingleObject(mutex.get(), INFINITE); ++shared; ::ReleaseMutex(mutex.get()); };

    const double legacyNs = NanosecondsPerCall(legacyPair);
    const double optexNs = NanosecondsPerCall(optexPair);
    const double sectionNs = NanosecondsPerCall(sectionPair);
    const double mutexNs = NanosecondsPerCall(mutexPair);
    std::printf("uncontended enter+leave   Optex %8.1f ns   critical section %8.1f ns   "
                "kernel mutex %8.1f ns\n", optexNs, sectionNs, mutexNs);
    std::printf("  ratios                  Optex/section %.2f   mutex/Optex %.2f\n",
                optexNs / sectionNs, mutexNs / optexNs);
    std::printf("thread records' cost      Optex %8.1f ns   without records %8.1f ns   ratio %.2f"
                " (target <= 1.2)\n", optexNs, legacyNs, optexNs / legacyNs);

    const double optexContended = Contended(optexPair);
    const double sectionContended = Contended(sectionPair);
    std::printf("two threads contending    Optex %8.1f ns   critical section %8.1f ns   ratio %.2f\n",
                optexContended, sectionContended, optexContended / sectionContended);

    HMODULE dll = ::LoadLibraryA("dlmgr.dll");
    auto getTimeStamp = dll ? reinterpret_cast<decltype(&DM_GetTimeStamp)>(
                                  reinterpret_cast<void*>(::GetProcAddress(dll, "DM_GetTimeStamp")))
                            : nullptr;
    if (getTimeStamp != nullptr) {
        const double pollNs = NanosecondsPerCall([&] { getTimeStamp(0); });
        std::printf("DM_GetTimeStamp poll      %8.1f ns   (%.2f x an Optex pair)\n", pollNs,
                    pollNs / optexNs);
    } else {
        std::printf("DM_GetTimeStamp poll      dlmgr.dll not found beside the benchmark\n");
    }
    ::DeleteCriticalSection(&section);
    return 0;
}
