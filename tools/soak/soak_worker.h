// A soak worker process: loads the library given, runs two threads that act
// on the table at random and end each other now and then, and reports to
// the oracle until it is told to stop or killed.
#pragma once

#include <string>

namespace soak {

int RunWorker(const std::string& oracleName, int index, const std::string& dllPath);

// The check of the file at the end, made by a fresh process: the table as
// stored, then as a first mapper loads it. 0 when sound; prints what it found.
int RunFileCheck(const std::string& dllPath, const std::string& dataFile);

}  // namespace soak
