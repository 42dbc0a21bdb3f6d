/* A C host of dlmgr.dll: registers a paused task, finds it in the listing of
 * the stopped tasks, and deletes it again. */
#include <stdio.h>
#include <string.h>

#include <dlmgr.h>

static TaskRecord listed[DLMGR_MAX_TASKS];

int main(void) {
    TaskRecord record;
    unsigned count;
    unsigned i;
    int found = 0;

    memset(&record, 0, sizeof(record));
    record.id.bytes[0] = 0x5d;
    record.kind = DLMGR_KIND_ENGINE;
    record.status = DLMGR_STATUS_PAUSED;
    strcpy(record.filePath, "C:\\downloads\\example.bin");
    if (!DM_SetTaskInfo(&record)) {
        printf("c host: the table is full\n");
        return 1;
    }

    /* The count locks the store for this thread; the copy, at once, unlocks it. */
    count = DM_GetTaskCount(DLMGR_CATEGORY_STOPPED);
    if (!DM_GetTaskInfo(listed)) {
        printf("c host: listing failed\n");
        return 1;
    }
    for (i = 0; i < count; ++i) {
        if (memcmp(&listed[i].id, &record.id, sizeof(TaskId)) == 0) found = 1;
    }
    DM_DeleteTask(&record.id);
    printf("c host: %s among %u stopped task(s)\n", found ? "found its task" : "task missing", count);
    return found ? 0 : 1;
}
