#include "host/ByteSource.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "host/HostError.h"

namespace mchost {

FileSource::FileSource(const std::string& path, const std::atomic<bool>* interrupt)
    : fPath(path), fpInterrupt(interrupt) {
    fFd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fFd < 0)
        throw HostError(HostError::kData, "cannot open '" + path + "': " + std::strerror(errno));
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

std::size_t StringSource::Read(char* buf, std::size_t n) {
    const std::size_t take = std::min(n, fText.size() - fPos);
    std::memcpy(buf, fText.data() + fPos, take);
    fPos += take;
    return take;
}

}  // namespace mchost
