// dlmgr.dat's space, got from the file system before the table is used. A
// file extended by mapping it is sparse on some file systems: a page the disk
// has no room for then faults in whichever host first writes to it, in the
// middle of a change, while it holds the store. Written out at load, a full
// disk is a refused load instead.
#pragma once

#include <windows.h>

namespace dlmgr {

// Extends file to size with zeros; with rewriteExisting, also writes its
// existing bytes back where they are (a file left sparse by an earlier
// build), which only a process that alone maps the file may do. False, with
// the system's error, when the disk would not take them.
bool ClaimFileSpace(HANDLE file, DWORD size, bool rewriteExisting, DWORD& error) noexcept;

}  // namespace dlmgr
