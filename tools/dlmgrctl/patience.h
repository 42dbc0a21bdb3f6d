// A command runs on a thread of its own while the main thread watches: when
// the command waits for the task store for more than a second, dlmgrctl says
// who holds it, and gives up after the --timeout the user set.
#pragma once

#include <functional>

namespace dlmgrctl {

// timeoutSeconds < 0: wait as long as the store is held.
int RunPatiently(const std::function<int()>& command, long timeoutSeconds);

}  // namespace dlmgrctl
