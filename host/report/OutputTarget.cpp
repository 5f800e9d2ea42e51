#include "host/report/OutputTarget.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "host/base/HostError.h"
#include "host/run/Processes.h"

namespace mchost {

namespace {

[[noreturn]] void Refuse(const std::string& name, const std::string& why) {
    throw HostError(HostError::kUsage, "cannot write '" + name + "': " + why);
}

FileKey KeyOf(const struct stat& st) {
    FileKey k;
    k.fDevice = st.st_dev;
    k.fInode = st.st_ino;
    return k;
}

std::string FolderOf(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string BaseOf(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The file a chain of symbolic links ends at, which may not exist yet: a
// rename into place must name it, not a link to it.
std::string FollowLinks(const std::string& name) {
    std::string path = name;
    for (int hop = 0; hop < 40; ++hop) {
        struct stat st;
        if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
        std::string target(static_cast<std::size_t>(st.st_size > 0 ? st.st_size : 4096) + 1, '\0');
        const ssize_t n = ::readlink(path.c_str(), target.data(), target.size());
        if (n < 0 || static_cast<std::size_t>(n) >= target.size())
            Refuse(name, "cannot read the symbolic link '" + path + "'");
        target.resize(static_cast<std::size_t>(n));
        path = target[0] == '/' ? target : FolderOf(path) + "/" + target;
    }
    Refuse(name, std::strerror(ELOOP));
}

// The key of a directory entry, the entry itself and not what a link in
// it names: a temporary file there is removed before it is made.
FileKey EntryKey(const std::string& name, const std::string& path) {
    struct stat st;
    if (::lstat(path.c_str(), &st) == 0) return KeyOf(st);
    if (errno != ENOENT) Refuse(name, std::strerror(errno));
    const std::string folder = FolderOf(path);
    if (::stat(folder.c_str(), &st) != 0) Refuse(name, std::strerror(errno));
    if (!S_ISDIR(st.st_mode)) Refuse(name, std::strerror(ENOTDIR));
    FileKey k = KeyOf(st);
    k.fName = BaseOf(path);
    if (k.fName.empty()) Refuse(name, "it names a folder");
    return k;
}

std::optional<FileKey> StandardKey(int fd) {
    struct stat st;
    if (::fstat(fd, &st) != 0) return std::nullopt;
    return KeyOf(st);
}

}  // namespace

OutputTarget ResolveOutput(const std::string& name) {
    OutputTarget t;
    t.fName = name;
    const std::optional<FileKey> standardOutput = StandardKey(STDOUT_FILENO);
    if (name == "-") {
        if (!standardOutput) Refuse(name, "the standard output is closed");
        t.fbDirect = true;
        t.fKey = *standardOutput;
        return t;
    }
    struct stat st;
    if (::stat(name.c_str(), &st) == 0) {
        t.fKey = KeyOf(st);
        if (standardOutput && t.fKey == *standardOutput) {
            t.fbDirect = true;
            return t;
        }
        if (S_ISFIFO(st.st_mode) || S_ISCHR(st.st_mode)) {
            t.fbDirect = true;
            t.fPath = name;
            return t;
        }
        if (S_ISDIR(st.st_mode)) Refuse(name, "it is a folder");
        if (!S_ISREG(st.st_mode))
            Refuse(name, "it is neither a regular file, nor a pipe, nor a character device");
        // Renaming over a file needs only the folder's permission: the
        // file's own is asked here. One that nobody may write is kept from
        // a user whom permissions do not stop, too.
        if ((st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0)
            Refuse(name, "it is write-protected, and mcreg does not replace such a file");
        if (::access(name.c_str(), W_OK) != 0)
            Refuse(name, std::string(std::strerror(errno)) +
                             ", and mcreg does not replace a file " + "it may not write");
        t.fMode = st.st_mode & 07777;
        t.fPath = FollowLinks(name);
    } else if (errno == ENOENT) {
        // A link to a file not yet there creates that file.
        t.fPath = FollowLinks(name);
        t.fKey = EntryKey(name, t.fPath);
    } else {
        Refuse(name, std::strerror(errno));
    }
    t.fPart = t.fPath + ".part";
    t.fPartKey = EntryKey(name, t.fPart);
    return t;
}

std::optional<FileKey> InputKey(const std::string& name) {
    if (name == "-") return StandardKey(STDIN_FILENO);
    struct stat st;
    if (::stat(name.c_str(), &st) != 0) return std::nullopt;
    return KeyOf(st);
}

void RefuseSharedFiles(const std::vector<NamedFile>& inputs,
                       const std::vector<std::pair<std::string, OutputTarget>>& outputs) {
    const auto refuse = [](const std::string& option, const std::string& name,
                           const std::string& other, const std::string& otherName,
                           const std::string& what) {
        throw HostError(HostError::kUsage,
                        option + " '" + name + "' " + what + " " + other + " '" + otherName + "'");
    };
    for (std::size_t i = 0; i < outputs.size(); ++i) {
        const auto& [option, t] = outputs[i];
        for (const NamedFile& in : inputs) {
            if (t.fKey == in.fKey)
                refuse(option, t.fName, in.fOption, in.fName, "is the same file as");
            if (!t.fPart.empty() && t.fPartKey == in.fKey)
                refuse(option, t.fName, in.fOption, in.fName,
                       "would write its temporary file '" + t.fPart + "' over");
        }
        for (std::size_t j = 0; j < i; ++j) {
            const auto& [earlier, u] = outputs[j];
            if (t.fKey == u.fKey) refuse(option, t.fName, earlier, u.fName, "is the same file as");
            if (!t.fPart.empty() && t.fPartKey == u.fKey)
                refuse(option, t.fName, earlier, u.fName,
                       "would write its temporary file '" + t.fPart + "' over");
            if (!u.fPart.empty() && u.fPartKey == t.fKey)
                refuse(earlier, u.fName, option, t.fName,
                       "would write its temporary file '" + u.fPart + "' over");
        }
    }
}

namespace {

// One file of a process as the processes exchange it: whether it is read,
// the option and the name, its key and, for an output replaced, its
// temporary file's name and key.
constexpr std::size_t kFields = 10;

void AddKey(std::vector<std::string>& texts, const FileKey& key) {
    texts.push_back(std::to_string(key.fDevice));
    texts.push_back(std::to_string(key.fInode));
    texts.push_back(key.fName);
}

class SharedFile {
public:
    bool fbInput = false;
    std::string fOption, fName, fPart;
    std::string fKey, fPartKey;  // device, inode and name, joined

    static SharedFile From(const std::vector<std::string>& texts, std::size_t at) {
        SharedFile f;
        f.fbInput = texts[at] == "in";
        f.fOption = texts[at + 1];
        f.fName = texts[at + 2];
        f.fKey = texts[at + 3] + '/' + texts[at + 4] + '/' + texts[at + 5];
        f.fPart = texts[at + 6];
        if (!f.fPart.empty())
            f.fPartKey = texts[at + 7] + '/' + texts[at + 8] + '/' + texts[at + 9];
        return f;
    }
};

std::string HostName() {
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0) return {};
    return name;
}

}  // namespace

void RefuseFilesSharedBetweenProcesses(
    const std::vector<NamedFile>& inputs,
    const std::vector<std::pair<std::string, OutputTarget>>& outputs, Processes& processes) {
    if (!processes.IsSplit()) return;
    std::vector<std::string> mine{HostName()};
    for (const NamedFile& in : inputs) {
        mine.insert(mine.end(), {"in", in.fOption, in.fName});
        AddKey(mine, in.fKey);
        mine.insert(mine.end(), {"", "", "", ""});
    }
    for (const auto& [option, t] : outputs) {
        // Each process's standard output is its own.
        if (t.IsStandardOutput()) continue;
        mine.insert(mine.end(), {"out", option, t.fName});
        AddKey(mine, t.fKey);
        mine.push_back(t.fPart);
        AddKey(mine, t.fPartKey);
    }
    const auto all = processes.GatherTexts(mine);
    const auto filesOf = [&](std::size_t rank) {
        std::vector<SharedFile> files;
        for (std::size_t at = 1; at + kFields <= all[rank].size(); at += kFields)
            files.push_back(SharedFile::From(all[rank], at));
        return files;
    };
    processes.Agreed([&] {
        const auto me = static_cast<std::size_t>(processes.Rank());
        const std::vector<SharedFile> own = filesOf(me);
        for (std::size_t r = 0; r < all.size(); ++r) {
            if (r == me || all[r].front() != all[me].front()) continue;
            const std::string of = " of process " + std::to_string(r);
            for (const SharedFile& other : filesOf(r)) {
                for (const SharedFile& f : own) {
                    const std::string said = f.fOption + " '" + f.fName + "' ";
                    const std::string theirs = other.fOption + " '" + other.fName + "'" + of;
                    // Two processes reading one file: told by the later.
                    if (f.fbInput && other.fbInput) {
                        if (r < me && f.fKey == other.fKey)
                            throw HostError(HostError::kUsage,
                                            said + "is the same file as " + theirs +
                                                ", whose records would count twice");
                        continue;
                    }
                    if (f.fKey == other.fKey)
                        throw HostError(HostError::kUsage, said + "is the same file as " + theirs);
                    if (!f.fPart.empty() && f.fPartKey == other.fKey)
                        throw HostError(HostError::kUsage, said +
                                                               "would write its temporary file '" +
                                                               f.fPart + "' over " + theirs);
                    if (!other.fPart.empty() && other.fPartKey == f.fKey)
                        throw HostError(HostError::kUsage, said + "is the temporary file '" +
                                                               other.fPart + "' of " + theirs);
                }
            }
        }
    });
}

}  // namespace mchost
