// The viewer's worker thread: it polls the change counters, lists again
// only when one moved, and acts, so that the window never waits for the
// store. What it finds it posts to the window, which owns each snapshot once
// it has it.
#pragma once

#include <windows.h>

#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "dlmgr.h"
#include "win/unique_resource.h"

namespace dlmgrview {

// WPARAM: a FeedSnapshot* for the window to delete.
constexpr UINT kSnapshotMessage = WM_APP + 1;

struct FeedSnapshot {
    bool live = false;  // false: dlmgr.dat as stored, no host has the table open
    bool notSaved = false;  // the table hosts share is not dlmgr.dat (a note says why)
    std::string said;   // what the action just taken did, in dlmgrctl's words
    std::string error;  // the table could not be read: the window keeps what it shows
    unsigned counters[2] = {};
    std::vector<TaskRecord> tasks[2];  // running, stopped; in table order
    std::vector<std::string> notes;    // what dlmgrctl list says beside the tasks
};

class ViewerFeed {
public:
    static constexpr DWORD kPollMs = 100;

    explicit ViewerFeed(HWND window);
    ~ViewerFeed();
    ViewerFeed(const ViewerFeed&) = delete;
    ViewerFeed& operator=(const ViewerFeed&) = delete;

    // action: "open", "resume", "again" or "delete".
    void Act(const std::string& action, const TaskId& id);
    // Lists again even if no counter moved.
    void Refresh();

private:
    struct Request {
        std::string action;
        TaskId id;
    };
    static DWORD WINAPI Run(void* self);
    void Loop();
    std::string Perform(const Request& request);

    HWND window_;
    dlmgr::UniqueEvent wake_;
    std::mutex lock_;
    std::deque<Request> requests_;  // guarded by lock_
    bool refresh_ = true;           // guarded by lock_
    bool stop_ = false;             // guarded by lock_
    dlmgr::UniqueThread thread_;
};

}  // namespace dlmgrview
