#include "host/ByteSource.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "host/GzipSource.h"
#include "host/HostError.h"

namespace mchost {

FileSource::FileSource(const std::string& path, const std::atomic<bool>* interrupt)
    : fPath(path), fpInterrupt(interrupt) {
    fFd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fFd < 0)
        throw HostError(HostError::kData, "cannot open '" + path + "': " + std::strerror(errno));
    Stat();
}

FileSource::FileSource(int fd, std::string name, const std::atomic<bool>* interrupt)
    : fPath(std::move(name)), fFd(fd), fpInterrupt(interrupt) {
    Stat();
}

void FileSource::Stat() {
    struct stat st;
    if (::fstat(fFd, &st) == 0 && S_ISREG(st.st_mode)) {
        fSize = static_cast<std::size_t>(st.st_size);
        fbSeekable = true;
        ::posix_fadvise(fFd, 0, 0, POSIX_FADV_SEQUENTIAL);
    }
}

FileSource::~FileSource() {
    if (fFd >= 0) ::close(fFd);
}

std::size_t FileSource::Read(char* buf, std::size_t n) {
    for (;;) {
        // Also before the call: a read from a pipe may wait for long.
        if (fpInterrupt != nullptr && fpInterrupt->load())
            throw HostError(HostError::kInterrupted, "interrupted");
        const ssize_t got = ::read(fFd, buf, n);
        if (got >= 0) return static_cast<std::size_t>(got);
        if (errno == EINTR) continue;
        throw HostError(HostError::kData, "cannot read '" + fPath + "': " + std::strerror(errno));
    }
}

bool FileSource::Rewind() {
    return fbSeekable && ::lseek(fFd, 0, SEEK_SET) == 0;
}

namespace {

// The standard input as a file that can be read twice. A terminal or a
// pipe may keep the read waiting: an interrupt ends the wait.
int SpoolStandardInput(const std::string& tempDir, const std::atomic<bool>* interrupt) {
    struct stat st;
    if (::fstat(STDIN_FILENO, &st) == 0 && S_ISREG(st.st_mode)) return ::dup(STDIN_FILENO);
    std::string path = tempDir + "/mcreg-stdin-XXXXXX";
    const int fd = ::mkstemp(&path[0]);
    if (fd < 0)
        throw HostError(HostError::kData, "cannot keep the standard input in '" + tempDir +
                                              "': " + std::strerror(errno));
    ::unlink(path.c_str());
    std::vector<char> buf(std::size_t(1) << 20);
    for (;;) {
        if (interrupt != nullptr && interrupt->load()) {
            ::close(fd);
            throw HostError(HostError::kInterrupted, "interrupted");
        }
        const ssize_t got = ::read(STDIN_FILENO, buf.data(), buf.size());
        if (got == 0) break;
        if (got < 0 && errno == EINTR) continue;
        if (got < 0 || ::write(fd, buf.data(), static_cast<std::size_t>(got)) != got) {
            const int err = errno;
            ::close(fd);
            throw HostError(HostError::kData,
                            std::string("cannot copy the standard input: ") + std::strerror(err));
        }
    }
    ::lseek(fd, 0, SEEK_SET);
    return fd;
}

bool IsGzip(int fd) {
    unsigned char magic[2] = {0, 0};
    return ::pread(fd, magic, 2, 0) == 2 && magic[0] == 0x1F && magic[1] == 0x8B;
}

}  // namespace

std::unique_ptr<ByteSource> OpenSource(const std::string& path, const std::string& tempDir,
                                       const std::atomic<bool>* interrupt) {
    auto file = path == "-" ? std::make_unique<FileSource>(SpoolStandardInput(tempDir, interrupt),
                                                           "standard input", interrupt)
                            : std::make_unique<FileSource>(path, interrupt);
    if (file->IsSeekable() && IsGzip(file->GetFd()))
        return std::make_unique<GzipSource>(std::move(file));
    return file;
}

std::size_t StringSource::Read(char* buf, std::size_t n) {
    const std::size_t take = std::min(n, fText.size() - fPos);
    std::memcpy(buf, fText.data() + fPos, take);
    fPos += take;
    return take;
}

}  // namespace mchost
