// Named events and bounded waits for tests that coordinate processes.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "win/unique_resource.h"

namespace dlmgr::test {

constexpr DWORD kSignalTimeoutMs = 20000;
// How long a test watches for something that must not happen. Shared
// machines only make a missed event later, never earlier, so a short watch
// cannot fail wrongly.
constexpr DWORD kQuietPeriodMs = 300;

// A manual-reset named event, made unique to this test run by the parent's
// process id (passed to children in the name). A signalled event stays until
// the signalling process ends; a process that signals and ends at once must
// be waited for on an event the waiter made before.
class NamedEvent {
public:
    explicit NamedEvent(const std::string& name);
    void Signal() const;
    // For a signal that must come: on a time-out the failure says what was
    // running (ASSERT_TRUE(event.Await())).
    ::testing::AssertionResult Await(DWORD timeoutMs = kSignalTimeoutMs) const;
    // For a watch where the time-out may be the expected outcome.
    bool WaitFor(DWORD timeoutMs) const {
        return ::WaitForSingleObject(event_.get(), timeoutMs) == WAIT_OBJECT_0;
    }
    bool IsSignalled() const { return WaitFor(0); }

private:
    std::string name_;
    UniqueEvent event_;
};

// A name unique to this process and call: "<base>-<pid>-<n>".
std::string UniqueName(const std::string& base);

// Polls condition until it holds or the time-out passes.
bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs = kSignalTimeoutMs);

// Runs fn on a new thread; true when it finished within the time-out. A
// thread still running is left behind (the test fails anyway).
bool RunOnOtherThread(const std::function<void()>& fn, DWORD timeoutMs = kSignalTimeoutMs);

// One thread that runs the steps it is given in turn, so that a test can
// take a lock on it in one step and leave it in a later one. A step that does
// not finish within its time-out fails Run, and the thread is left behind.
class StepThread {
public:
    StepThread();
    StepThread(const StepThread&) = delete;
    StepThread& operator=(const StepThread&) = delete;
    ~StepThread();
    bool Run(const std::function<void()>& step, DWORD timeoutMs = kSignalTimeoutMs);

private:
    static DWORD WINAPI Main(void* parameter);
    std::function<void()> step_;
    bool stop_ = false;
    bool stuck_ = false;
    UniqueEvent go_, done_;
    UniqueThread thread_;
};

}  // namespace dlmgr::test
