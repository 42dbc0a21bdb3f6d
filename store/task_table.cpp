#include "store/task_table.h"

#include <atomic>
#include <cstring>

#include "log/log.h"
#include "log/messages.h"
#include "settings/settings_names.h"
#include "store/task_id.h"

namespace dlmgr {

namespace {

// Moves records from..count-1 one slot down, noting each finished slot so
// that a repeat starts at the record that may be half copied.
void MoveDown(StoreBlock& block, StoreIntent* intent, std::uint32_t from, std::uint32_t count) {
    for (std::uint32_t i = from; i + 1 < count; ++i) {
        if (intent) {
            intent->progress = i;
            KeepStoreOrder();
        }
        std::memcpy(&block.records[i], &block.records[i + 1], sizeof(TaskRecord));
    }
}

// FNV-1a (64 bits) of the ids of records index .. count - 1 but slot skip,
// in table order. When a removal begins (skip = index): the tasks that move.
// Later, with skip the slot that may be half copied: the same tasks wherever
// the moves got to, whether the new count was written or not (the moves
// never clear slot count - 1). Ids, not whole records: a roll-forward onto
// other tasks is what loses or doubles one, and a full table's removal then
// costs 8 KB of hashing rather than half a megabyte.
std::uint64_t MovedRecordsChecksum(const StoreBlock& block, std::uint32_t index,
                                   std::uint32_t skip, std::uint32_t count) {
    std::uint64_t checksum = 0xCBF29CE484222325ull;
    for (std::uint32_t i = index; i < count; ++i) {
        if (i == skip) continue;
        for (const unsigned char byte : block.records[i].id.bytes) {
            checksum = (checksum ^ byte) * 0x100000001B3ull;
        }
    }
    return checksum;
}

// The slot a removal's moves go on from: below it every slot holds its
// final record.
std::uint32_t ResumeFrom(const StoreIntent& intent) {
    return intent.progress > intent.index ? intent.progress : intent.index;
}

void BeginChange(StoreIntent& intent, const StoreHeader& header, IntentOperation operation) {
    intent.taskCount = header.taskCount;
    intent.tableTimeStamp[0] = header.timeStamp[0];
    intent.tableTimeStamp[1] = header.timeStamp[1];
    intent.tied = kIntentChecked;
    KeepStoreOrder();
    intent.operation = operation;
    KeepStoreOrder();
}

void EndChange(StoreIntent& intent) {
    KeepStoreOrder();
    intent.operation = kIntentNone;
}

// Whether the table still holds the exact records the change began on, as
// far as the change got. Each check is beside its field in StoreIntent.
bool IntentFitsTable(const StoreBlock& block, const StoreIntent& intent) {
    const StoreHeader& header = block.header;
    if (intent.tied != kIntentChecked || header.timeStamp[0] != intent.tableTimeStamp[0] ||
        header.timeStamp[1] != intent.tableTimeStamp[1] || intent.taskCount > kMaxTasks ||
        intent.index >= intent.taskCount) {
        return false;
    }
    switch (intent.operation) {
        case kIntentOverwrite:
            return SameTaskId(block.records[intent.index].id, intent.record.id);
        case kIntentRemove:
            // A removal cut short after its new count was written is whole
            // but for clearing the intent.
            return (header.taskCount == intent.taskCount ||
                    header.taskCount + 1 == intent.taskCount) &&
                   MovedRecordsChecksum(block, intent.index, ResumeFrom(intent),
                                        intent.taskCount) == intent.movedChecksum;
        default: return false;
    }
}

}  // namespace

void KeepStoreOrder() noexcept { std::atomic_signal_fence(std::memory_order_seq_cst); }

std::uint32_t TaskTable::TaskCount() const noexcept { return TasksInUse(block_.header); }

int TaskTable::FindTask(const TaskId& id) const {
    if (LogEnabled(0)) {
        char text[kTaskIdTextSize];
        FormatTaskId(id, text);
        Log(0, messages::kLookupId, text);
    }
    int found = -1;
    const auto count = static_cast<int>(TaskCount());
    for (int i = 0; i < count; ++i) {
        if (SameTaskId(block_.records[i].id, id)) {
            found = i;
            break;
        }
    }
    Log(0, messages::kLookupResult, found);
    return found;
}

void TaskTable::TrimCompleted() {
    const auto maxTaskCount = settings_.GetDword(kMaxTaskCountValue, kDefaultMaxTaskCount);
    // The setting is a signed number and a negative maximum asks for more
    // trimming, never less: in 64 bits, so that no maximum wraps around.
    auto excess = static_cast<std::int64_t>(TaskCount()) -
                  static_cast<std::int32_t>(maxTaskCount) + 1;
    int index = 0;
    while (excess > 0 && InUse(index)) {
        if (block_.records[index].status == DLMGR_STATUS_COMPLETED) {
            RemoveTask(index);
            --excess;
        } else {
            ++index;
        }
    }
}

bool TaskTable::AddTask(const TaskRecord& record) {
    TrimCompleted();
    const std::uint32_t count = TaskCount();
    if (count >= kMaxTasks) return false;
    // The slot beyond the count is unused: a death while it is written loses
    // only this addition, which was never reported done.
    std::memcpy(&block_.records[count], &record, sizeof(TaskRecord));
    KeepStoreOrder();
    block_.header.taskCount = count + 1;
    CountChange(record.status);
    return true;
}

bool TaskTable::UpdateTask(int index, const TaskRecord& record) {
    if (!InUse(index) || !SameTaskId(block_.records[index].id, record.id)) return false;
    const int oldStatus = block_.records[index].status;
    if (intent_) {
        std::memcpy(&intent_->record, &record, sizeof(TaskRecord));
        intent_->index = static_cast<std::uint32_t>(index);
        BeginChange(*intent_, block_.header, kIntentOverwrite);
    }
    std::memcpy(&block_.records[index], &record, sizeof(TaskRecord));
    CountChange(oldStatus);
    CountChange(record.status);
    if (intent_) EndChange(*intent_);
    return true;
}

bool TaskTable::RemoveTask(int index) {
    if (!InUse(index)) return false;
    const int status = block_.records[index].status;
    const std::uint32_t count = TaskCount();
    if (intent_) {
        intent_->index = static_cast<std::uint32_t>(index);
        intent_->progress = static_cast<std::uint32_t>(index);
        intent_->movedChecksum = MovedRecordsChecksum(block_, intent_->index, intent_->index, count);
        BeginChange(*intent_, block_.header, kIntentRemove);
    }
    MoveDown(block_, intent_, static_cast<std::uint32_t>(index), count);
    KeepStoreOrder();
    block_.header.taskCount = count - 1;
    CountChange(status);
    if (intent_) EndChange(*intent_);
    return true;
}

IntentOutcome CompleteInterruptedChange(StoreBlock& block, StoreIntent& intent) {
    const std::uint32_t operation = intent.operation;
    if (operation == kIntentNone) return IntentOutcome::kNone;
    if (!IntentFitsTable(block, intent)) {
        EndChange(intent);
        return IntentOutcome::kDropped;
    }
    if (operation == kIntentRemove) {
        MoveDown(block, &intent, ResumeFrom(intent), intent.taskCount);
        KeepStoreOrder();
        block.header.taskCount = intent.taskCount - 1;
    } else {
        std::memcpy(&block.records[intent.index], &intent.record, sizeof(TaskRecord));
    }
    EndChange(intent);
    return IntentOutcome::kCompleted;
}

}  // namespace dlmgr
