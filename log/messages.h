// The module's log messages. The source is UTF-8; the compiler emits every
// narrow literal in code page 936 (-fexec-charset=GBK), which is what the log
// file holds. English glosses are in the comments.
#pragma once

namespace dlmgr::messages {

// Store lookups.
constexpr char kLookupId[] = "查找ID: %s。";              // looking up ID
constexpr char kLookupResult[] = "查找ID返回值: %d。";    // lookup result

// Registration.
constexpr char kAddFailed[] = "增加任务时意外失败!";      // unexpected failure while adding
constexpr char kUpdateFailed[] = "更新任务时意外失败!";   // unexpected failure while updating

// Actions.
constexpr char kOpenFile[] = "打开文件 %s.";                          // opening file
constexpr char kFileNotCompleted[] = "文件 %s 不出于下载完成的状态！";  // not in the completed state
constexpr char kFileOpened[] = "已经打开文件 %s.";                    // file opened
constexpr char kResumeTask[] = "继续下载任务 %s.";                    // resuming task
constexpr char kResumeNoEngine[] = "DLEngine键值不存在，不能继续下载。";  // no DLEngine, cannot resume
constexpr char kCannotResume[] = "不能继续下载的任务 %s.";            // task cannot be resumed
constexpr char kDownloadAgain[] = "重新下载任务 %s.";                 // downloading again
constexpr char kAgainNoEngine[] = "DLEngine键值不存在，不能重新下载。";  // no DLEngine, cannot download again
constexpr char kCannotDownloadAgain[] = "不能重新下载的任务 %s.";     // task cannot be downloaded again
constexpr char kDeleteTask[] = "删除任务 %s.";                        // deleting task
constexpr char kTaskRunning[] = "任务 %s 出于正在下载的状态！";       // task is downloading
constexpr char kDeleteFile[] = "删除文件 %s";                         // deleting file
constexpr char kDeleteFailed[] = "删除任务时意外失败!";               // unexpected failure while deleting
constexpr char kTaskDeleted[] = "已经删除任务 %s.";                   // task deleted
constexpr char kNoClientName[] = "默认键值不存在，不能获取BT客户端名字。";    // no install dir: no client
// Task text that would bend a command line (level 4).
constexpr char kQuoteInFilePath[] = "文件路径 %s 含有引号，不能启动程序。";       // file path holds a quotation mark: nothing started
constexpr char kQuoteInTorrentName[] = "种子名 %s 含有引号，不能启动程序。";      // torrent name holds a quotation mark: nothing started
constexpr char kUnsafeSource[] = "下载源 %s 含有引号、空白或控制字符，不能启动程序。";  // source holds a quote, white space or a control character: nothing started
constexpr char kEndsInLeadByte[] = "文本 %s 以不完整的双字节字符结尾，不能启动程序。";  // text ends in half a double-byte character: nothing started
constexpr char kCommandTooLong[] = "命令行超过511个字符，不能启动程序：%s";  // command line longer than 511 characters: nothing started
constexpr char kStartFailed[] = "无法启动程序（错误 %lu）：%s";  // the program could not be started (error %lu)
constexpr char kOpenFailed[] = "无法打开文件 %s（错误 %lu）。";  // the file could not be opened (error %lu)
constexpr char kDeleteWithoutClient[] = "种子名 %s 含有引号，只删除任务，不启动BT客户端。";  // torrent name holds a quote: record deleted, client not started

// Start-up.
constexpr char kProcessAttached[] = "某进程绑定了dlmgr.dll";       // a process attached the module
constexpr char kTlsIndex[] = "tlsIndex = %d";
constexpr char kDataFileLocation[] = "数据文件位置: %s";           // data file location
constexpr char kMappingHandle[] = "hMapping = %d";
constexpr char kNewMapping[] = "创建新的内存映射。";               // creating a new memory mapping
constexpr char kExistingMapping[] = "打开已有的内存映射。";        // opening the existing mapping
constexpr char kStoreLockFailed[] = "无法创建存储锁!";             // cannot create the store lock
constexpr char kMappingFailed[] = "无法创建内存映射!";             // cannot create the memory mapping
constexpr char kViewFailed[] = "无法映射数据视图!";                // cannot map the view of the data
// Recovery from a thread that died holding a lock (process, thread; 0 when unknown).
constexpr char kStoreLockTakenOver[] = "存储锁的持有者（进程 %lu，线程 %lu）已退出，已接管。";  // store lock's holder exited; taken over
constexpr char kLogLockTakenOver[] = "日志锁的持有者（进程 %lu，线程 %lu）已退出，已接管。";    // log lock's holder exited; taken over
constexpr char kBadTaskCount[] = "数据文件任务数 %u 超出范围，重新初始化。";  // count out of range, reinitialised

// Repairs of the table (level 8).
constexpr char kRemovalCompleted[] = "完成了被中断的删除（第 %u 条记录）。";    // completed an interrupted removal (record %u)
constexpr char kOverwriteCompleted[] = "完成了被中断的更新（第 %u 条记录）。";  // completed an interrupted update (record %u)
constexpr char kHeaderReinitialised[] = "任务表头无效，重新初始化。";           // table header invalid, reinitialised
constexpr char kStaleIntentDropped[] = "数据表已被改动，未完成被中断的修改（第 %u 条记录）。";  // the table changed since: an interrupted change (record %u) left undone
constexpr char kDuplicateRemoved[] = "删除了重复的任务 %s（第 %u 条记录）。";   // removed a duplicate of task %s (record %u)
constexpr char kStoreWaitFailed[] = "等待存储锁失败（错误 %lu）。";             // waiting for the store lock failed (error %lu)

}  // namespace dlmgr::messages
