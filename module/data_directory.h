// The folder that holds dlmgr.dat and, by default, dlmgr.log.
#pragma once

#include <cstddef>

namespace dlmgr {

constexpr size_t kPathBufferSize = 256;

// The user's "Application Data\p4p" on the NT family, the system folder's
// "p4p" otherwise; at most 255 characters. Touches nothing on disk, so tools
// can find the data file without making folders.
void FindDataDirectory(char (&directory)[kPathBufferSize]);

// FindDataDirectory, then every missing folder on the way is created, so the
// data file can always be made there.
void PrepareDataDirectory(char (&directory)[kPathBufferSize]);

// Appends text to a 256-byte path, keeping at most 255 characters.
void AppendToPath(char (&path)[kPathBufferSize], const char* text);

}  // namespace dlmgr
