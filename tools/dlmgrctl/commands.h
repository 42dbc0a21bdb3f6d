// The dlmgrctl commands. Each takes the words after its name and returns the
// exit code; UsageError leaves them for bad usage or input.
#pragma once

#include <string>
#include <vector>

namespace dlmgrctl {

using Words = std::vector<std::string>;

int RunList(const Words& words);
int RunWatch(const Words& words);
int RunSet(const Words& words);
// action: "open", "resume", "again" or "delete".
int RunAction(const std::string& action, const Words& words);
int RunInspect(const Words& words);
int RunLock(const Words& words);
int RunLog(const Words& words);
int RunConfig(const Words& words);
int RunHold(const Words& words);
int RunHost(const Words& words);

// Help text of a command, or of the tool when command is empty.
const char* HelpText(const std::string& command);
// dlmgrctl's version and size, and the version of the dlmgr.dll beside it,
// read from its version resource without loading it. problem: why this
// dlmgrctl cannot use that DLL (missing, or of the other pointer size), or
// empty.
std::string VersionText(std::string& problem);

}  // namespace dlmgrctl
