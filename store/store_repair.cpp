#include "store/store_repair.h"

#include "log/log.h"
#include "log/messages.h"
#include "store/task_id.h"
#include "store/task_table.h"

namespace dlmgr {

bool StoreNeedsRepair(const StoreBlock& block, const StoreIntent* intent) noexcept {
    return block.header.magic != kStoreMagic || block.header.taskCount > kMaxTasks ||
           (intent != nullptr && intent->operation != kIntentNone);
}

bool RepairStore(StoreBlock& block, StoreIntent* intent, const SettingsKey& settings,
                 bool thorough) {
    bool repaired = false;
    if (intent != nullptr) {
        const std::uint32_t operation = intent->operation;
        const std::uint32_t index = intent->index;
        switch (CompleteInterruptedChange(block, *intent)) {
            case IntentOutcome::kCompleted:
                Log(8, operation == kIntentRemove ? messages::kRemovalCompleted
                                                  : messages::kOverwriteCompleted,
                    static_cast<unsigned>(index));
                repaired = true;
                break;
            case IntentOutcome::kDropped:
                // A move cut short may have left one record twice: the
                // thorough check below removes the later copy.
                Log(8, messages::kStaleIntentDropped, static_cast<unsigned>(index));
                repaired = true;
                thorough = true;
                break;
            case IntentOutcome::kNone: break;
        }
    }
    if (block.header.magic != kStoreMagic) {
        Log(8, messages::kHeaderReinitialised);
        InitialiseHeader(block.header);
        return true;
    }
    if (block.header.taskCount > kMaxTasks) {
        Log(8, messages::kBadTaskCount, static_cast<unsigned>(block.header.taskCount));
        InitialiseHeader(block.header);
        return true;
    }
    if (!thorough) return repaired;
    // Of two records with one id the first is the one every lookup finds.
    TaskTable table(block, settings, intent);
    for (int i = 0; i < static_cast<int>(table.TaskCount()); ++i) {
        for (int j = i + 1; j < static_cast<int>(table.TaskCount());) {
            if (!SameTaskId(table.Record(i).id, table.Record(j).id)) {
                ++j;
                continue;
            }
            char text[kTaskIdTextSize];
            FormatTaskId(table.Record(j).id, text);
            Log(8, messages::kDuplicateRemoved, text, static_cast<unsigned>(j));
            table.RemoveTask(j);
            repaired = true;
        }
    }
    return repaired;
}

void RaiseChangeCounters(StoreHeader& header) noexcept {
    AnnounceChange(header, kCategoryRunning);
    AnnounceChange(header, kCategoryStopped);
}

}  // namespace dlmgr
