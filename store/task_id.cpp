#include "store/task_id.h"

#include <cstdint>
#include "log/bounded_format.h"

namespace dlmgr {

void FormatTaskId(const TaskId& id, char (&text)[kTaskIdTextSize]) {
    std::uint32_t words[4];
    std::memcpy(words, id.bytes, sizeof(words));
    FormatBounded(text, sizeof(text), "%08x%08x%08x%08x", static_cast<unsigned>(words[0]),
                  static_cast<unsigned>(words[1]), static_cast<unsigned>(words[2]),
                  static_cast<unsigned>(words[3]));
}

}  // namespace dlmgr
