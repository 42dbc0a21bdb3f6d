// A fresh folder under the temporary directory, removed with its content.
#pragma once

#include <string>

namespace dlmgr::test {

class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "\\" + name; }

private:
    std::string path_;
};

void RemoveTree(const std::string& path);
bool FileExists(const std::string& path);
std::string ReadWholeFile(const std::string& path);
void WriteWholeFile(const std::string& path, const std::string& content);
// Appends as a logging process would: the file stays readable meanwhile.
void AppendToFile(const std::string& path, const std::string& content);
long long FileSize(const std::string& path);
void CopyFileTo(const std::string& from, const std::string& to);
// The folder of this test executable (where dlmgr.dll and helpers are built).
std::string ExecutableFolder();

}  // namespace dlmgr::test
