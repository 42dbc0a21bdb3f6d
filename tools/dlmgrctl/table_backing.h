// Whether the table that hosts share is dlmgr.dat. When the library cannot
// open the file it keeps the table in the page file, and another program may
// have made a page-file (or other file's) section under the table's name:
// hosts work on, but what they register is lost when the last one ends.
// Found as hosts see it: from a view of the table's section and the file
// behind that view.
#pragma once

#include <string>

namespace dlmgrctl {

// How the note begins, wherever it is shown.
constexpr char kNotSaved[] = "not saved: ";

// "not saved: ..." with the reason that can be told from outside; empty
// while the table is dlmgr.dat, or while no process has it open.
std::string TableNotSaved(const std::string& dataFile);

}  // namespace dlmgrctl
