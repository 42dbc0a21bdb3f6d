// Reads a log file back as lines without their time stamps.
#pragma once

#include <string>
#include <vector>

namespace dlmgr::test {

struct LogLine {
    std::string stamp;    // "[Mon dd hh:mm:ss] "
    std::string message;  // without CR LF
};

// Splits on CR LF; a trailing piece without CR LF is returned as a line whose
// message ends in "<no CRLF>" so tests notice it.
std::vector<LogLine> ReadLogLines(const std::string& path);

// The messages of ReadLogLines, without their stamps.
std::vector<std::string> ReadLogMessages(const std::string& path);

// True when stamp has the shape "[Mon dd hh:mm:ss] ".
bool IsLogStamp(const std::string& stamp);

}  // namespace dlmgr::test
