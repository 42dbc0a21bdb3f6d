// What the entry routine does on each loader notification.
#pragma once

namespace dlmgr {

// False makes the loader refuse the module.
bool OnProcessAttach();
void OnProcessDetach();
void OnThreadAttach();
void OnThreadDetach();

}  // namespace dlmgr
