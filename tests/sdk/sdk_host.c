/* Registers a paused task, lists the stopped tasks and prints what it found. */
#include <stdio.h>
#include <string.h>

#include <dlmgr.h>

int main(void) {
    TaskRecord record;
    TaskRecord listed[512];
    unsigned count;
    unsigned i;
    int found = 0;

    memset(&record, 0, sizeof(record));
    record.id.bytes[0] = 0x5d;
    record.kind = DLMGR_KIND_ENGINE;
    record.status = DLMGR_STATUS_PAUSED;
    strcpy(record.filePath, "C:\\sdk\\host.bin");
    if (!DM_SetTaskInfo(&record)) {
        printf("sdk host: registration refused\n");
        return 1;
    }
    count = DM_GetTaskCount(DLMGR_CATEGORY_STOPPED);
    if (count > 512 || !DM_GetTaskInfo(listed)) {
        printf("sdk host: listing failed\n");
        return 1;
    }
    for (i = 0; i < count; ++i) {
        if (memcmp(&listed[i].id, &record.id, sizeof(TaskId)) == 0) found = 1;
    }
    DM_DeleteTask(&record.id);
    printf("sdk host: %s, %u stopped task(s)\n", found ? "found its task" : "task missing", count);
    return found ? 0 : 1;
}
