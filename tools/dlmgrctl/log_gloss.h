// The library's log messages read back from the table it writes them from:
// which message a line holds, the values put into it, and its meaning in
// English for readers of the log who read no Chinese.
#pragma once

#include <string>
#include <vector>

namespace dlmgrctl {

struct LogMessage {
    const char* format = nullptr;   // as the library writes it, in code page 936
    const char* english = nullptr;  // its meaning, with the same conversions
    std::vector<std::string> values;  // what each conversion of the line holds
};

// message: a log line's text after its time stamp. False for text the
// library does not write.
bool ParseLogMessage(const std::string& message, LogMessage& parsed);

// The English of a parsed message with its values put in.
std::string EnglishOf(const LogMessage& parsed);
// The same from a line's text; empty for text the library does not write.
std::string EnglishOf(const std::string& message);

}  // namespace dlmgrctl
