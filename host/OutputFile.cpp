#include "host/OutputFile.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "host/HostError.h"

namespace mchost {

namespace {

[[noreturn]] void CannotWrite(const std::string& path, int error) {
    throw HostError(HostError::kUsage,
                    "cannot write '" + path + "'" +
                        (error != 0 ? ": " + std::string(std::strerror(error)) : std::string()));
}

}  // namespace

OutputFile::OutputFile(const std::string& path) : fPath(path), fPart(path + ".part") {
    errno = 0;
    fStream.open(fPart, std::ios::binary | std::ios::trunc);
    if (!fStream) CannotWrite(fPath, errno);
}

OutputFile::~OutputFile() {
    if (fbCommitted) return;
    fStream.close();
    std::remove(fPart.c_str());
}

void OutputFile::Commit() {
    errno = 0;
    fStream.close();
    if (!fStream) CannotWrite(fPath, errno);
    if (std::rename(fPart.c_str(), fPath.c_str()) != 0) CannotWrite(fPath, errno);
    fbCommitted = true;
}

}  // namespace mchost
