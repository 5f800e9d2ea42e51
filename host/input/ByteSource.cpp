#include "host/input/ByteSource.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "host/base/HostError.h"
#include "host/input/GzipSource.h"
#include "host/input/InputFormat.h"
#include "host/input/Utf16Source.h"

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

// A pipe as a file that can be read twice (and whose first bytes can be
// looked at). A terminal or a pipe may keep the read waiting: an interrupt
// ends the wait. Closes fd.
int Spool(int in, const std::string& name, const std::string& tempDir,
          const std::atomic<bool>* interrupt) {
    std::string path = tempDir + "/mcreg-input-XXXXXX";
    const int fd = ::mkstemp(&path[0]);
    if (fd < 0) {
        const int err = errno;
        ::close(in);
        throw HostError(HostError::kData,
                        "cannot keep " + name + " in '" + tempDir + "': " + std::strerror(err));
    }
    ::unlink(path.c_str());
    std::vector<char> buf(std::size_t(1) << 20);
    for (;;) {
        if (interrupt != nullptr && interrupt->load()) {
            ::close(fd);
            ::close(in);
            throw HostError(HostError::kInterrupted, "interrupted");
        }
        const ssize_t got = ::read(in, buf.data(), buf.size());
        if (got == 0) break;
        if (got < 0 && errno == EINTR) continue;
        if (got < 0 || ::write(fd, buf.data(), static_cast<std::size_t>(got)) != got) {
            const int err = errno;
            ::close(fd);
            ::close(in);
            throw HostError(HostError::kData, "cannot copy " + name + ": " + std::strerror(err));
        }
    }
    ::close(in);
    ::lseek(fd, 0, SEEK_SET);
    return fd;
}

// The input as a file: the standard input and pipes (--data <(gzip -c f))
// copied, other files and devices as they are.
std::unique_ptr<FileSource> OpenFile(const std::string& path, const std::string& tempDir,
                                     const std::atomic<bool>* interrupt) {
    const bool standard = path == "-";
    const std::string name = standard ? "standard input" : path;
    int fd = standard ? ::dup(STDIN_FILENO) : ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        throw HostError(HostError::kData, "cannot open '" + path + "': " + std::strerror(errno));
    struct stat st;
    if (::fstat(fd, &st) == 0 &&
        (S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode) || (standard && !S_ISREG(st.st_mode))))
        fd = Spool(fd, name, tempDir, interrupt);
    return std::make_unique<FileSource>(fd, name, interrupt);
}

// The first bytes of a source that can be read again, which is rewound.
std::size_t Head(ByteSource& source, unsigned char* head) {
    std::size_t n = 0;
    while (n < kSniffBytes) {
        const std::size_t got = source.Read(reinterpret_cast<char*>(head) + n, kSniffBytes - n);
        if (got == 0) break;
        n += got;
    }
    source.Rewind();
    return n;
}

}  // namespace

std::unique_ptr<ByteSource> OpenSource(const std::string& path, const std::string& tempDir,
                                       const std::atomic<bool>* interrupt, bool text) {
    std::unique_ptr<FileSource> file = OpenFile(path, tempDir, interrupt);
    // A device (/dev/zero) is read as it comes.
    if (!file->IsSeekable()) return file;
    unsigned char head[kSniffBytes];
    const std::size_t n = Head(*file, head);
    const std::string name = path == "-" ? file->Name() : "'" + path + "'";
    InputFormat format = SniffInput(head, n, name, text);
    std::unique_ptr<ByteSource> source = std::move(file);
    if (format == InputFormat::kGzip) {
        std::unique_ptr<FileSource> compressed(static_cast<FileSource*>(source.release()));
        source = std::make_unique<GzipSource>(std::move(compressed));
        // What was compressed may be any of the others.
        const std::size_t m = Head(*source, head);
        format = SniffInput(head, m, name + " (gzip-compressed)", text);
        if (format == InputFormat::kGzip) return source;
    }
    if (format == InputFormat::kUtf16LE || format == InputFormat::kUtf16BE)
        return std::make_unique<Utf16Source>(std::move(source), format == InputFormat::kUtf16BE);
    return source;
}

std::size_t StringSource::Read(char* buf, std::size_t n) {
    const std::size_t take = std::min(n, fText.size() - fPos);
    std::memcpy(buf, fText.data() + fPos, take);
    fPos += take;
    return take;
}

}  // namespace mchost
