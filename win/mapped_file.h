// Which file a mapped view is a view of, as the system tells it, and whether
// two names or handles are one file. A section found under a name may be
// another program's: of the page file, or of some other file.
#pragma once

#include <windows.h>

#include <cstddef>

namespace dlmgr {

// The file behind view, as a program opens it ("C:\x"); false for a view of
// the page file (or when the system cannot say).
bool MappedFilePath(const void* view, wchar_t* path, size_t size) noexcept;

// True when path names the file that file is open on (same volume and file
// index); names are compared only when either cannot be asked.
bool IsSameFile(HANDLE file, const wchar_t* path) noexcept;

}  // namespace dlmgr
