#include "host/input/GzipSource.h"

#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <climits>
#include <cstdint>

#include "host/base/HostError.h"

namespace mchost {

namespace {

gzFile Gz(void* p) {
    return static_cast<gzFile>(p);
}

}  // namespace

GzipSource::GzipSource(std::unique_ptr<FileSource> file)
    : fpFile(std::move(file)), fName(fpFile->Name() + " (gzip-compressed)") {
    unsigned char trailer[4];
    const std::size_t compressed = fpFile->Size();
    if (compressed >= 4 &&
        ::pread(fpFile->GetFd(), trailer, 4, static_cast<off_t>(compressed - 4)) == 4) {
        const std::uint32_t isize = trailer[0] | (trailer[1] << 8) | (trailer[2] << 16) |
                                    (static_cast<std::uint32_t>(trailer[3]) << 24);
        fSize = std::max<std::size_t>(isize, compressed);
    }
    // zlib reads its own descriptor; the file keeps the original.
    const int fd = ::dup(fpFile->GetFd());
    ::lseek(fd, 0, SEEK_SET);
    fpGz = fd >= 0 ? gzdopen(fd, "rb") : nullptr;
    if (fpGz == nullptr) {
        if (fd >= 0) ::close(fd);
        throw HostError(HostError::kData, "cannot open " + fName);
    }
    gzbuffer(Gz(fpGz), 1u << 18);
}

GzipSource::~GzipSource() {
    if (fpGz != nullptr) gzclose(Gz(fpGz));
}

std::size_t GzipSource::Read(char* buf, std::size_t n) {
    const unsigned want = static_cast<unsigned>(std::min<std::size_t>(n, INT_MAX));
    const int got = gzread(Gz(fpGz), buf, want);
    // A truncated file gives its data and then only a note of the error:
    // the records read from it must not pass for the whole file.
    int code = Z_OK;
    const char* what = gzerror(Gz(fpGz), &code);
    if (got < 0 || (code != Z_OK && code != Z_STREAM_END)) {
        // zlib names the descriptor ("<fd:4>: ..."); the file's name is said.
        std::string why = what != nullptr && *what != 0 ? what : "corrupt data";
        if (why.compare(0, 4, "<fd:") == 0 && why.find(": ") != std::string::npos)
            why.erase(0, why.find(": ") + 2);
        throw HostError(HostError::kData, "cannot read " + fName + ": " + why);
    }
    return static_cast<std::size_t>(got);
}

bool GzipSource::Rewind() {
    return gzrewind(Gz(fpGz)) == 0;
}

}  // namespace mchost
