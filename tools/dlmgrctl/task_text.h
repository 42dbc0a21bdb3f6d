// How dlmgrctl names and parses the fields of a task.
#pragma once

#include <optional>
#include <string>

#include "dlmgr.h"

namespace dlmgrctl {

// "running", "completed", "paused", "stopped", "running-4".."running-6",
// "closed" (the names of dlmgr.h's DLMGR_STATUS_ constants); "unknown"
// outside 0..7.
const char* StatusName(int status);
const char* CategoryName(int category);
const char* KindName(int kind);

// A status number, or one of the names above in any case.
std::optional<int> ParseStatus(const std::string& text);
// "engine", "torrent" (in any case) or a number.
std::optional<int> ParseKind(const std::string& text);
// 32 hex digits: the id's 16 bytes in memory order, byte 0 first (a host that
// sets id.bytes[0] = 0x42 sees 42000000000000000000000000000000). The
// module's log writes ids as four little-endian words instead.
std::optional<TaskId> ParseTaskId(const std::string& text);
std::string FormatId(const TaskId& id);

// A text field read within its width.
std::string FieldString(const char* field, size_t width);
// A text field for the terminal: control characters (bytes 1 to 31) escaped
// as the log escapes them, so that no task's text can move the cursor, clear
// the screen or draw a row of its own.
std::string ShownField(const char* field, size_t width);

// JSON string literal of ANSI (code page of the process) text, as UTF-8.
std::string JsonString(const std::string& ansiText);

// "2 paused": the number and its name.
std::string StatusText(int status);
// The header row of task tables, and one row: index, id, kind, status
// number and name, file path.
std::string TaskTableHeader();
std::string TaskRow(size_t index, const TaskRecord& task);
// The task's fields as JSON members, without the enclosing braces.
std::string TaskJsonMembers(const TaskRecord& task);

}  // namespace dlmgrctl
