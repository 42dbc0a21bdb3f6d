// The system's own words for an error code, for messages that say why.
#pragma once

#include <windows.h>

#include <string>

namespace dlmgrctl {

std::string SystemErrorText(DWORD error);

}  // namespace dlmgrctl
