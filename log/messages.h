// The module's log messages, in one table: each name, the message as the log
// file holds it, and its meaning in English (which dlmgrctl log shows beside
// it). The source is UTF-8; the compiler emits every narrow literal in code
// page 936 (-fexec-charset=GBK), which is what the log file holds. A
// message's English has the same conversions in the same order.
#pragma once

namespace dlmgr::messages {

#define DLMGR_LOG_MESSAGES(X) \
    /* Store lookups. */ \
    X(kLookupId, "查找ID: %s。", \
      "looking up ID %s.") \
    X(kLookupResult, "查找ID返回值: %d。", \
      "lookup of the ID returned %d.") \
    /* Registration. */ \
    X(kAddFailed, "增加任务时意外失败!", \
      "unexpected failure while adding a task!") \
    X(kTableFull, "原因：任务表已满（512个任务）。", \
      "the reason: the task table is full (512 tasks).") \
    X(kUpdateFailed, "更新任务时意外失败!", \
      "unexpected failure while updating a task!") \
    /* Actions. */ \
    X(kOpenFile, "打开文件 %s.", \
      "opening file %s.") \
    X(kFileNotCompleted, "文件 %s 不出于下载完成的状态！", \
      "file %s is not in the completed state!") \
    X(kFileOpened, "已经打开文件 %s.", \
      "file %s opened.") \
    X(kResumeTask, "继续下载任务 %s.", \
      "resuming task %s.") \
    X(kResumeNoEngine, "DLEngine键值不存在，不能继续下载。", \
      "no DLEngine value: cannot resume.") \
    X(kCannotResume, "不能继续下载的任务 %s.", \
      "task %s cannot be resumed.") \
    X(kDownloadAgain, "重新下载任务 %s.", \
      "downloading task %s again.") \
    X(kAgainNoEngine, "DLEngine键值不存在，不能重新下载。", \
      "no DLEngine value: cannot download again.") \
    X(kCannotDownloadAgain, "不能重新下载的任务 %s.", \
      "task %s cannot be downloaded again.") \
    X(kDeleteTask, "删除任务 %s.", \
      "deleting task %s.") \
    X(kTaskRunning, "任务 %s 出于正在下载的状态！", \
      "task %s is downloading!") \
    X(kDeleteFile, "删除文件 %s", \
      "deleting file %s") \
    X(kDeleteFailed, "删除任务时意外失败!", \
      "unexpected failure while deleting a task!") \
    X(kTaskDeleted, "已经删除任务 %s.", \
      "task %s deleted.") \
    X(kNoClientName, "默认键值不存在，不能获取BT客户端名字。", \
      "no default value (installation folder): cannot name the torrent client.") \
    /* Task text that would bend a command line (level 4). */ \
    X(kQuoteInFilePath, "文件路径 %s 含有引号，不能启动程序。", \
      "file path %s holds a quotation mark: nothing started.") \
    X(kQuoteInTorrentName, "种子名 %s 含有引号，不能启动程序。", \
      "torrent name %s holds a quotation mark: nothing started.") \
    X(kUnsafeSource, "下载源 %s 含有引号、空白或控制字符，不能启动程序。", \
      "source %s holds a quotation mark, white space or a control character: nothing started.") \
    X(kEndsInLeadByte, "文本 %s 以不完整的双字节字符结尾，不能启动程序。", \
      "text %s ends in half a double-byte character: nothing started.") \
    X(kCommandTooLong, "命令行超过511个字符，不能启动程序：%s", \
      "command line longer than 511 characters: nothing started: %s") \
    X(kStartFailed, "无法启动程序（错误 %lu）：%s", \
      "the program could not be started (error %lu): %s") \
    X(kOpenFailed, "无法打开文件 %s（错误 %lu）。", \
      "file %s could not be opened (error %lu).") \
    X(kDeleteWithoutClient, "种子名 %s 含有引号，只删除任务，不启动BT客户端。", \
      "torrent name %s holds a quotation mark: task deleted, torrent client not started.") \
    /* Start-up. */ \
    X(kProcessAttached, "某进程绑定了dlmgr.dll", \
      "a process attached dlmgr.dll") \
    X(kTlsIndex, "tlsIndex = %d", \
      "TLS index %d") \
    X(kDataFileLocation, "数据文件位置: %s", \
      "data file: %s") \
    X(kMappingHandle, "hMapping = %d", \
      "mapping handle %d") \
    X(kNewMapping, "创建新的内存映射。", \
      "creating a new memory mapping.") \
    X(kExistingMapping, "打开已有的内存映射。", \
      "opening the existing memory mapping.") \
    X(kLogNamesStoreFile, "日志文件设置 %s 指向任务表的文件，改用 %s。", \
      "the log file setting %s names a file of the table: %s used instead.") \
    X(kTableInMemory, "无法打开数据文件 %s（错误 %lu）：任务表只在内存中，不会被保存。", \
      "data file %s could not be opened (error %lu): the table lives in memory only and is not saved.") \
    X(kTableNotTheFile, "任务表的内存映射不是数据文件 %s（%s）：另一个程序以其名称创建了它，任务不会被保存到该文件。", \
      "the table's section is not data file %s (%s): another program made it under the table's name, and tasks are not saved to that file.") \
    X(kStoreLockNotRobust, "存储锁的恢复互斥体或进程块不可用：持有者退出后将无法恢复。", \
      "the store lock's recovery mutex or process block could not be had: a holder that exits cannot be recovered from.") \
    X(kNoRoomForTable, "数据文件 %s 无法获得所需空间（错误 %lu），拒绝加载。", \
      "data file %s could not be given its space (error %lu): load refused.") \
    X(kStoreLockFailed, "无法创建存储锁!", \
      "cannot create the store lock!") \
    X(kMappingFailed, "无法创建内存映射!", \
      "cannot create the memory mapping!") \
    X(kViewFailed, "无法映射数据视图!", \
      "cannot map a view of the data!") \
    /* Recovery from a thread that died holding a lock (process, thread; 0 when unknown). */ \
    X(kStoreLockTakenOver, "存储锁的持有者（进程 %lu，线程 %lu）已退出，已接管。", \
      "the store lock's holder (process %lu, thread %lu) has exited: taken over.") \
    X(kLogLinesDropped, "日志锁被长时间占用，丢弃了 %lu 行日志。", \
      "the log's lock was held too long: %lu line(s) dropped.") \
    X(kLogLockTakenOver, "日志锁的持有者（进程 %lu，线程 %lu）已退出，已接管。", \
      "the log lock's holder (process %lu, thread %lu) has exited: taken over.") \
    X(kBadTaskCount, "数据文件任务数 %u 超出范围，重新初始化。", \
      "task count %u of the data file out of range: reinitialised.") \
    /* Repairs of the table (level 8). */ \
    X(kRemovalCompleted, "完成了被中断的删除（第 %u 条记录）。", \
      "completed an interrupted removal (record %u).") \
    X(kOverwriteCompleted, "完成了被中断的更新（第 %u 条记录）。", \
      "completed an interrupted update (record %u).") \
    X(kHeaderReinitialised, "任务表头无效，重新初始化。", \
      "task table header invalid: reinitialised.") \
    X(kStaleIntentDropped, "数据表已被改动，未完成被中断的修改（第 %u 条记录）。", \
      "the table changed since: an interrupted change (record %u) left undone.") \
    X(kDuplicateRemoved, "删除了重复的任务 %s（第 %u 条记录）。", \
      "removed a duplicate of task %s (record %u).") \
    X(kStoreLockRepaired, "存储锁的计数不可能（lockCount %ld，recursionCount %ld），已修复。", \
      "the store lock held impossible counts (lockCount %ld, recursionCount %ld): set right.") \
    X(kStoreHeldLong, "存储锁已被进程 %lu 的线程 %lu 占用至少 %lu 秒。", \
      "the store has been held by process %lu, thread %lu, for at least %lu s.") \
    X(kStoreHeldWithoutRecord, "存储锁被一个不保存记录的线程（线程 %lu）占用，已等待 %lu 秒。", \
      "the store is held by a thread that keeps no record (thread %lu); waited %lu s so far.") \
    X(kStoreUnowned, "存储锁无人持有，却有 %ld 个等待级别，已等待 %lu 秒；可能不保存记录的进程：%s。", \
      "nobody holds the store, yet %ld level(s) wait; waited %lu s so far; processes that may keep no record: %s.") \
    X(kStartedWithoutStore, "存储锁被进程 %lu 的线程 %lu 占用：启动时未检查和清理任务表。", \
      "the store is held by process %lu, thread %lu: started without the start-up check and purge of the table.") \
    X(kStartedBesideUnrecorded, "存储锁被一个不保存记录的线程（线程 %lu）占用：启动时未检查和清理任务表。", \
      "the store is held by a thread that keeps no record (thread %lu): started without the start-up check and purge of the table.") \
    X(kStartedStoreUnowned, "存储锁无人持有，却有 %ld 个等待级别：启动时未检查和清理任务表。", \
      "nobody holds the store, yet %ld level(s) wait: started without the start-up check and purge of the table.") \
    X(kWakeUpEventNotAutoReset, "存储锁的唤醒事件不是自动重置事件（另一个程序以其名称创建了它）：等待者改为定时查看。", \
      "the store lock's wake-up event is not auto-reset (another program made it under its name): waiters look at it at intervals instead.") \
    X(kStrayWakeUps, "存储锁的唤醒事件被另一个程序设置，而无人释放：等待者改为定时查看。", \
      "the store lock's wake-up event is set by another program with nobody releasing: waiters look at it at intervals instead.") \
    X(kRecoveryMutexKept, "存储锁的恢复互斥体被占用超过一秒：恢复不再等待它。", \
      "the store lock's recovery mutex has been kept for over a second: recovery goes on without it.") \
    X(kStoreWaitFailed, "等待存储锁失败（错误 %lu）。", \
      "waiting for the store lock failed (error %lu).")

#define DLMGR_LOG_MESSAGE_CONSTANT(name, text, english) constexpr char name[] = text;
DLMGR_LOG_MESSAGES(DLMGR_LOG_MESSAGE_CONSTANT)
#undef DLMGR_LOG_MESSAGE_CONSTANT

struct Gloss {
    const char* message;
    const char* english;
};

#define DLMGR_LOG_MESSAGE_GLOSS(name, text, english) {name, english},
constexpr Gloss kGlosses[] = {DLMGR_LOG_MESSAGES(DLMGR_LOG_MESSAGE_GLOSS)};
#undef DLMGR_LOG_MESSAGE_GLOSS

}  // namespace dlmgr::messages
