#include "tools/viewer/viewer_feed.h"

#include <memory>
#include <stdexcept>

#include "tools/dlmgrctl/action_refusal.h"
#include "tools/dlmgrctl/table_backing.h"
#include "tools/dlmgrctl/table_reader.h"

namespace dlmgrview {

ViewerFeed::ViewerFeed(HWND window)
    : window_(window), wake_(::CreateEventA(nullptr, FALSE, FALSE, nullptr)) {
    thread_.reset(::CreateThread(nullptr, 0, Run, this, 0, nullptr));
}

ViewerFeed::~ViewerFeed() {
    {
        const std::lock_guard<std::mutex> guard(lock_);
        stop_ = true;
    }
    ::SetEvent(wake_.get());
    // A thread that waits for a held store is left to the process's end
    // rather than freezing the window's close.
    if (::WaitForSingleObject(thread_.get(), 2000) != WAIT_OBJECT_0) thread_.release();
}

void ViewerFeed::Act(const std::string& action, const TaskId& id) {
    {
        const std::lock_guard<std::mutex> guard(lock_);
        requests_.push_back({action, id});
    }
    ::SetEvent(wake_.get());
}

void ViewerFeed::Refresh() {
    {
        const std::lock_guard<std::mutex> guard(lock_);
        refresh_ = true;
    }
    ::SetEvent(wake_.get());
}

DWORD WINAPI ViewerFeed::Run(void* self) {
    static_cast<ViewerFeed*>(self)->Loop();
    return 0;
}

std::string ViewerFeed::Perform(const Request& request) {
    // Acting may load the library; looking never does.
    try {
        const std::string purged = dlmgrctl::LoadModuleForAChange();
        const std::string refused = dlmgrctl::PerformAction(request.action, request.id);
        const std::string text = refused.empty() ? request.action + ": done"
                                                 : "cannot " + request.action + ": " + refused;
        return purged.empty() ? text : text + " (" + purged + ")";
    } catch (const std::exception& error) {
        return "cannot " + request.action + ": " + error.what();
    }
}

void ViewerFeed::Loop() {
    std::unique_ptr<dlmgrctl::TableReader> table;
    unsigned seen[2] = {};
    bool seenLive = false;
    for (;;) {
        ::WaitForSingleObject(wake_.get(), kPollMs);
        Request request;
        bool acting = false;
        bool refresh = false;
        {
            const std::lock_guard<std::mutex> guard(lock_);
            if (stop_) return;
            if (!requests_.empty()) {
                request = requests_.front();
                requests_.pop_front();
                acting = true;
            }
            refresh = refresh_;
            refresh_ = false;
        }
        auto snapshot = std::make_unique<FeedSnapshot>();
        if (acting) {
            snapshot->said = Perform(request);
            refresh = true;
        }
        try {
            if (!table) table = std::make_unique<dlmgrctl::TableReader>();
            table->Refresh();
            snapshot->live = table->live();
            for (int category = 0; category < 2; ++category) {
                snapshot->counters[category] = table->Counter(category);
            }
            if (!refresh && snapshot->counters[0] == seen[0] &&
                snapshot->counters[1] == seen[1] && snapshot->live == seenLive) {
                continue;
            }
            seenLive = snapshot->live;
            for (int category = 0; category < 2; ++category) {
                snapshot->tasks[category] = table->Tasks(category);
                seen[category] = snapshot->counters[category];
            }
            snapshot->notes = table->Notes(snapshot->tasks[0].size() + snapshot->tasks[1].size());
            for (const std::string& note : snapshot->notes) {
                snapshot->notSaved = snapshot->notSaved || note.rfind(dlmgrctl::kNotSaved, 0) == 0;
            }
        } catch (const std::exception& error) {
            snapshot->error = error.what();
            table.reset();
        }
        if (::PostMessageW(window_, kSnapshotMessage, reinterpret_cast<WPARAM>(snapshot.get()), 0)) {
            snapshot.release();
        }
    }
}

}  // namespace dlmgrview
