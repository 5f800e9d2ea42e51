#pragma once
#include <fstream>
#include <string>

namespace mchost {

// A file the program writes only when its work succeeds. It is opened at
// once (so that a path that cannot be written fails before any work) as
// path + ".part"; Commit renames it into place, and a file that was never
// committed is removed, so a failed run leaves the path untouched.
class OutputFile {
public:
    // Throws HostError (usage) naming the path when it cannot be written.
    explicit OutputFile(const std::string& path);
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    std::ostream& Stream() { return fStream; }
    const std::string& GetPath() const { return fPath; }
    // Throws HostError (usage) when the content cannot be written.
    void Commit();

private:
    std::string fPath;
    std::string fPart;
    std::ofstream fStream;
    bool fbCommitted = false;
};

}  // namespace mchost
