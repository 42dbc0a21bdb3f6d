// The English meaning of the module's log messages, from the table the
// module writes them from: for readers of the log who read no Chinese.
#pragma once

#include <string>

namespace dlmgrctl {

// message: a log line's text after its time stamp, in code page 936. Its
// meaning in English with the values of its conversions put in, or empty for
// a message the module does not write.
std::string EnglishOf(const std::string& message);

}  // namespace dlmgrctl
