/*
 * dlmgr.h - public interface of dlmgr.dll, the download task list shared by
 * every process on the machine that loads the library.
 *
 * C89, C99 and C++ compatible. All functions use the cdecl convention and
 * return a one-byte boolean (1 true, 0 false) unless stated otherwise.
 *
 * The same header serves 32- and 64-bit hosts: the record has no pointer or
 * pointer-sized field, so it is the same 1,112 bytes in both, and hosts of
 * both sizes share one task table through their own build of the DLL.
 */
#ifndef DLMGR_H
#define DLMGR_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Define DLMGR_NO_DLLIMPORT when linking through a delay-load import library:
 * its calls must go through the library's stubs, not straight through the
 * import address table. */
#if defined(DLMGR_BUILDING_DLL) || defined(DLMGR_NO_DLLIMPORT)
#define DLMGR_API
#else
#define DLMGR_API __declspec(dllimport)
#endif

#define DLMGR_CALL __cdecl

typedef unsigned char DlmgrBool;

/* Two records describe the same task when all sixteen bytes are equal. */
typedef struct TaskId {
    unsigned char bytes[16];
} TaskId;

/* Task kinds (TaskRecord.kind). Any other value can only be listed and deleted. */
#define DLMGR_KIND_ENGINE  0 /* handled by the download engine (setting DLEngine) */
#define DLMGR_KIND_TORRENT 1 /* handled by BTClient.exe in the installation folder */

/* Task statuses (TaskRecord.status). */
#define DLMGR_STATUS_RUNNING   0
#define DLMGR_STATUS_COMPLETED 1
#define DLMGR_STATUS_PAUSED    2
#define DLMGR_STATUS_STOPPED   3 /* can be downloaded again */
#define DLMGR_STATUS_RUNNING_4 4
#define DLMGR_STATUS_RUNNING_5 5
#define DLMGR_STATUS_RUNNING_6 6
#define DLMGR_STATUS_CLOSED    7 /* stopped for good; only listing and deletion apply */

/* The name status 7 had before version 1.1, for hosts written then. */
#define DLMGR_STATUS_FINISHED DLMGR_STATUS_CLOSED

/* Categories, as passed to DM_GetTimeStamp and DM_GetTaskCount. */
#define DLMGR_CATEGORY_RUNNING 0
#define DLMGR_CATEGORY_STOPPED 1

/* The table's capacity: a listing never holds more records than this. */
#define DLMGR_MAX_TASKS 512

#define DLMGR_TORRENT_NAME_SIZE 256
#define DLMGR_FILE_PATH_SIZE    512
#define DLMGR_SOURCE_SIZE       300

/* One task, exactly as stored in the shared table (1,112 bytes, no padding).
 * Text fields are ANSI strings; a field filled to its full width without a
 * terminator is read only within its width. */
typedef struct TaskRecord {
    TaskId id;                                  /* offset    0 */
    int kind;                                   /* offset   16 */
    char torrentName[DLMGR_TORRENT_NAME_SIZE];  /* offset   20: base name of the .torrent file */
    char filePath[DLMGR_FILE_PATH_SIZE];        /* offset  276: full path of the local file */
    char source[DLMGR_SOURCE_SIZE];             /* offset  788: handed to the engine on download again */
    int status;                                 /* offset 1088 */
    unsigned char reserved[20];                 /* offset 1092: copied with the record, never interpreted */
} TaskRecord;

#define DLMGR_STATIC_ASSERT(condition, name) \
    typedef char dlmgr_static_assert_##name[(condition) ? 1 : -1]

DLMGR_STATIC_ASSERT(sizeof(TaskId) == 16, task_id_size);
DLMGR_STATIC_ASSERT(sizeof(TaskRecord) == 1112, task_record_size);
DLMGR_STATIC_ASSERT(offsetof(TaskRecord, id) == 0, id_offset);
DLMGR_STATIC_ASSERT(offsetof(TaskRecord, kind) == 16, kind_offset);
DLMGR_STATIC_ASSERT(offsetof(TaskRecord, torrentName) == 20, torrent_name_offset);
DLMGR_STATIC_ASSERT(offsetof(TaskRecord, filePath) == 276, file_path_offset);
DLMGR_STATIC_ASSERT(offsetof(TaskRecord, source) == 788, source_offset);
DLMGR_STATIC_ASSERT(offsetof(TaskRecord, status) == 1088, status_offset);
DLMGR_STATIC_ASSERT(offsetof(TaskRecord, reserved) == 1092, reserved_offset);
DLMGR_STATIC_ASSERT(sizeof(int) == 4, int_is_32_bits);

/* Registers a new task or replaces the one with the same id. False when the
 * table is full (512 tasks after trimming completed ones) or record is null. */
DLMGR_API DlmgrBool DLMGR_CALL DM_SetTaskInfo(const TaskRecord* record);

/* Change counter of a category (0 running, anything else stopped). Never
   waits: it is read without taking the store; it moves after the records it
   announces are written. */
DLMGR_API unsigned int DLMGR_CALL DM_GetTimeStamp(int category);

/* Counts the tasks of a category and keeps the store locked for this thread
 * until its DM_GetTaskInfo. Returns 0 without locking when the thread cannot
 * take part in listing. */
DLMGR_API unsigned int DLMGR_CALL DM_GetTaskCount(int category);

/* Copies the tasks counted by this thread's DM_GetTaskCount (at most that
 * many) into records and unlocks the store. False, touching nothing, when no
 * count is pending on this thread; a null buffer ends the listing and fails. */
DLMGR_API DlmgrBool DLMGR_CALL DM_GetTaskInfo(TaskRecord* records);

/* Always 0: refusals are reported only as false results. */
DLMGR_API int DLMGR_CALL DM_GetLastError(void);

/* Actions by task id; only the 16 bytes at id are read. False when the task
   is unknown or its status or kind does not allow the action, when a command
   line would be cut or bent by the task's text, and when the program could
   not be started or the file not opened (the log says why). A deletion is
   true once the record is removed. */
DLMGR_API DlmgrBool DLMGR_CALL DM_OpenTaskFile(const TaskId* id);
DLMGR_API DlmgrBool DLMGR_CALL DM_ResumeTask(const TaskId* id);
DLMGR_API DlmgrBool DLMGR_CALL DM_DownloadAgain(const TaskId* id);
DLMGR_API DlmgrBool DLMGR_CALL DM_DeleteTask(const TaskId* id);

/* Not supported: reads nothing and always returns false. To pause a task,
   register it again with status DLMGR_STATUS_PAUSED (DM_SetTaskInfo). */
DLMGR_API DlmgrBool DLMGR_CALL DM_PauseTask(const TaskId* id);

#ifdef __cplusplus
}
#endif

#endif /* DLMGR_H */
