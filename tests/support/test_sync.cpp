#include "tests/support/test_sync.h"

#include <memory>
#include <mutex>
#include <vector>

#include "tests/support/child_process.h"
#include "tests/support/wait_diagnosis.h"

namespace dlmgr::test {

NamedEvent::NamedEvent(const std::string& name)
    : name_(name), event_(::CreateEventA(nullptr, TRUE, FALSE, name.c_str())) {}

void NamedEvent::Signal() const {
    Trace("signalled " + name_);
    ::SetEvent(event_.get());
    // A named event lives only while a handle to it is open: signalled through
    // a temporary and closed before the waiter opened it, the signal would be
    // lost, and the waiter would time out with the signaller long done. Each
    // signalled event stays open until this process ends.
    static std::mutex keptLock;
    static std::vector<UniqueEvent> kept;
    HANDLE copy = nullptr;
    if (::DuplicateHandle(::GetCurrentProcess(), event_.get(), ::GetCurrentProcess(), &copy, 0,
                          FALSE, DUPLICATE_SAME_ACCESS)) {
        const std::lock_guard<std::mutex> guard(keptLock);
        kept.emplace_back(copy);
    }
}

::testing::AssertionResult NamedEvent::Await(DWORD timeoutMs) const {
    Trace("waiting for " + name_);
    if (WaitFor(timeoutMs)) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "event " << name_ << " not signalled within "
                                         << timeoutMs / 1000 << " s\n"
                                         << DescribeWhatWasRunning();
}

std::string UniqueName(const std::string& base) {
    // Counted too: signalled events outlive their test (see Signal), and one
    // process may run several tests.
    static volatile LONG serial = 0;
    return base + "-" + std::to_string(::GetCurrentProcessId()) + "-" +
           std::to_string(::InterlockedIncrement(&serial));
}

bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs) {
    const ULONGLONG deadline = ::GetTickCount64() + timeoutMs;
    for (;;) {
        if (condition()) return true;
        if (::GetTickCount64() >= deadline) return false;
        ::Sleep(5);
    }
}

namespace {

DWORD WINAPI RunFunction(void* parameter) {
    std::unique_ptr<std::function<void()>> fn(static_cast<std::function<void()>*>(parameter));
    (*fn)();
    return 0;
}

}  // namespace

bool RunOnOtherThread(const std::function<void()>& fn, DWORD timeoutMs) {
    auto* copy = new std::function<void()>(fn);
    UniqueThread thread(::CreateThread(nullptr, 0, RunFunction, copy, 0, nullptr));
    if (!thread) {
        delete copy;
        return false;
    }
    return ::WaitForSingleObject(thread.get(), timeoutMs) == WAIT_OBJECT_0;
}

StepThread::StepThread()
    : go_(::CreateEventA(nullptr, FALSE, FALSE, nullptr)),
      done_(::CreateEventA(nullptr, FALSE, FALSE, nullptr)),
      thread_(::CreateThread(nullptr, 0, Main, this, 0, nullptr)) {}

StepThread::~StepThread() {
    if (stuck_ || !thread_) return;
    stop_ = true;
    ::SetEvent(go_.get());
    ::WaitForSingleObject(thread_.get(), kSignalTimeoutMs);
}

bool StepThread::Run(const std::function<void()>& step, DWORD timeoutMs) {
    if (stuck_ || !thread_) return false;
    step_ = step;
    ::SetEvent(go_.get());
    stuck_ = ::WaitForSingleObject(done_.get(), timeoutMs) != WAIT_OBJECT_0;
    return !stuck_;
}

DWORD WINAPI StepThread::Main(void* parameter) {
    auto* self = static_cast<StepThread*>(parameter);
    // Between steps it waits as long as a test may; then it ends by itself.
    while (::WaitForSingleObject(self->go_.get(), 3 * kSignalTimeoutMs) == WAIT_OBJECT_0 &&
           !self->stop_) {
        self->step_();
        ::SetEvent(self->done_.get());
    }
    return 0;
}

}  // namespace dlmgr::test
