/* A host with the Microsoft ABI and no C runtime (kernel32 and dlmgr.lib
 * only), 32-bit linked with /SAFESEH as new Visual Studio projects are, or
 * 64-bit: registers a paused task, finds it in the listing and deletes it. */
#include <dlmgr.h>

typedef void* Handle;
__declspec(dllimport) void __stdcall ExitProcess(unsigned code);
__declspec(dllimport) Handle __stdcall GetStdHandle(unsigned long which);
__declspec(dllimport) int __stdcall WriteFile(Handle file, const void* data, unsigned long size,
                                              unsigned long* written, void* overlapped);

/* Static, so zeroed without a call to memset. */
static TaskRecord record;
static TaskRecord listed[DLMGR_MAX_TASKS];

static void Say(const char* text) {
    unsigned long length = 0;
    unsigned long written = 0;
    while (text[length] != '\0') ++length;
    WriteFile(GetStdHandle((unsigned long)-11), text, length, &written, 0);
}

static int SameId(const TaskId* a, const TaskId* b) {
    int i;
    for (i = 0; i < 16; ++i) {
        if (a->bytes[i] != b->bytes[i]) return 0;
    }
    return 1;
}

void __cdecl Start(void) {
    const char path[] = "C:\\downloads\\msvc.bin";
    unsigned count;
    unsigned i;
    int found = 0;

    record.id.bytes[0] = 0x5f;
    record.kind = DLMGR_KIND_ENGINE;
    record.status = DLMGR_STATUS_PAUSED;
    for (i = 0; i < sizeof(path); ++i) record.filePath[i] = path[i];
    if (!DM_SetTaskInfo(&record)) {
        Say("msvc host: the table is full\r\n");
        ExitProcess(1);
    }
    count = DM_GetTaskCount(DLMGR_CATEGORY_STOPPED);
    if (DM_GetTaskInfo(listed)) {
        for (i = 0; i < count; ++i) found = found || SameId(&listed[i].id, &record.id);
    }
    DM_DeleteTask(&record.id);
    Say(found ? "msvc host: found its task\r\n" : "msvc host: task missing\r\n");
    ExitProcess(found ? 0 : 1);
}
