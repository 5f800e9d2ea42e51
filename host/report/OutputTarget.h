#pragma once
#include <sys/types.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace mchost {

class Processes;

// A file told apart from every other by what it is, not by how it is
// spelled: the device and inode of a file that exists; of one that does
// not yet, those of its folder and its name there.
class FileKey {
public:
    dev_t fDevice = 0;
    ino_t fInode = 0;
    std::string fName;  // empty for a file that exists

    bool operator==(const FileKey& o) const {
        return fDevice == o.fDevice && fInode == o.fInode && fName == o.fName;
    }
};

// Where an output named on the command line ends up. A symbolic link is
// followed to the file it names, which is the file written. A regular file
// (or one to be created) is written as a temporary file next to it and
// renamed into place when the work succeeds; a pipe, a character device
// and "-" (the standard output) cannot be replaced and are written
// directly, as is any name of the file the standard output already goes to
// (/dev/stdout, or the file it was redirected to).
class OutputTarget {
public:
    std::string fName;  // as given
    // The file written: symbolic links followed. Empty for the standard
    // output.
    std::string fPath;
    bool fbDirect = false;
    FileKey fKey;
    // A file replaced: its temporary file's name and identity, and the mode
    // of the file it replaces (0 when there is none).
    std::string fPart;
    FileKey fPartKey;
    mode_t fMode = 0;

    bool IsStandardOutput() const { return fbDirect && fPath.empty(); }
};

// Throws HostError (usage) naming the path when it cannot be an output: a
// folder, a file of another kind, a folder that does not exist, or an
// existing file that may not be written (one without any write
// permission, even for a user whom permissions do not stop, or one this
// user may not write).
OutputTarget ResolveOutput(const std::string& name);

// The identity of an input: "-" is the standard input. Nothing for one
// that cannot be found (reading it will say why).
std::optional<FileKey> InputKey(const std::string& name);

// An input or an output of the program and the option that names it.
class NamedFile {
public:
    std::string fOption;
    FileKey fKey;
    std::string fName;
};

// Throws HostError (usage) naming both options when an output is an input,
// or two outputs (or one's temporary file and another file) are one file.
void RefuseSharedFiles(const std::vector<NamedFile>& inputs,
                       const std::vector<std::pair<std::string, OutputTarget>>& outputs);

// The same over the processes of one fit: every process calls it with its
// own files. On one machine one process's output may be another's input or
// output by another name (a symbolic link, a path of another process's
// rank), and two processes may read one file, whose records would then
// count twice. Throws HostError (usage) on every process, naming the other
// process, when so. Files of processes on different machines are not
// compared: a path there may name another disk.
void RefuseFilesSharedBetweenProcesses(
    const std::vector<NamedFile>& inputs,
    const std::vector<std::pair<std::string, OutputTarget>>& outputs, Processes& processes);

}  // namespace mchost
