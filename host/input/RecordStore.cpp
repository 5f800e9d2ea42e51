#include "host/input/RecordStore.h"

#include <stdio_ext.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "data/BinaryRecordIterator.h"
#include "host/base/HostError.h"

namespace mchost {

namespace {

// Records held in memory, one after another.
class MemoryRecordIter : public MCCommon_850::MultiPassRecordIter {
public:
    MemoryRecordIter(const double* values, int nValues, std::size_t nRecords)
        : fpValues(values),
          fNValues(static_cast<std::size_t>(nValues)),
          fNRecords(nRecords),
          fRecord(nValues) {}

    bool HasMore() const override { return fNext < fNRecords; }
    MCCommon_850::Record* Next() override {
        if (fNext >= fNRecords) return nullptr;
        std::memcpy(fRecord.GetAll(), fpValues + fNext * fNValues, fNValues * sizeof(double));
        ++fNext;
        return &fRecord;
    }
    int GetFailReason() const override {
        return fNext < fNRecords ? MCCommon_850::kIterOK : MCCommon_850::kIterEnd;
    }
    int NewPass() override {
        fNext = 0;
        return GetFailReason();
    }

private:
    const double* fpValues;
    std::size_t fNValues;
    std::size_t fNRecords;
    std::size_t fNext = 0;
    MCCommon_850::Record fRecord;
};

}  // namespace

MemoryRecordStore::MemoryRecordStore(int nValues, std::size_t expectedRecords)
    : RecordStore(nValues) {
    fvValues.reserve(expectedRecords * static_cast<std::size_t>(nValues));
}

double* MemoryRecordStore::Append(std::size_t n) {
    const std::size_t at = fvValues.size();
    fvValues.resize(at + n * static_cast<std::size_t>(fNValues));
    fNRecords += n;
    return fvValues.data() + at;
}

std::unique_ptr<MCCommon_850::MultiPassRecordIter> MemoryRecordStore::MakeIterator() const {
    return std::make_unique<MemoryRecordIter>(fvValues.data(), fNValues, fNRecords);
}

std::string DefaultTempDir() {
    const char* t = std::getenv("TMPDIR");
    return t != nullptr && *t != '\0' ? t : "/tmp";
}

FileRecordStore::FileRecordStore(int nValues, const std::string& dir) : RecordStore(nValues) {
    std::string path = dir + "/mcreg-records-XXXXXX";
    const int fd = ::mkstemp(path.data());
    if (fd < 0)
        throw HostError(HostError::kData, "cannot create a temporary file in '" + dir +
                                              "': " + std::strerror(errno) +
                                              " (set TMPDIR to a writable folder)");
    ::unlink(path.c_str());
    fpFile = ::fdopen(fd, "w+b");
    if (fpFile == nullptr) {
        ::close(fd);
        throw HostError(HostError::kData,
                        "cannot open a temporary file: " + std::string(std::strerror(errno)));
    }
    // The library reads a record at a time: a large buffer keeps that to
    // few system calls, and as one thread at a time uses the file, stdio
    // need not lock it on every call.
    __fsetlocking(fpFile, FSETLOCKING_BYCALLER);
    const std::size_t size = std::size_t(1) << 20;
    fpStdioBuffer.reset(new char[size]);
    std::setvbuf(fpFile, fpStdioBuffer.get(), _IOFBF, size);
}

FileRecordStore::~FileRecordStore() {
    if (fpFile != nullptr) std::fclose(fpFile);
}

double* FileRecordStore::Append(std::size_t n) {
    const std::size_t need = n * static_cast<std::size_t>(fNValues);
    // The block grows to the largest run of records a reader appends.
    if (fNPending + need > fvBlock.size()) Flush();
    if (need > fvBlock.size()) fvBlock.resize(need);
    double* at = fvBlock.data() + fNPending;
    fNPending += need;
    fNRecords += n;
    return at;
}

void FileRecordStore::Flush() {
    if (fNPending == 0) return;
    if (std::fwrite(fvBlock.data(), sizeof(double), fNPending, fpFile) != fNPending)
        throw HostError(HostError::kData, "cannot write the temporary record file: " +
                                              std::string(std::strerror(errno)));
    fNPending = 0;
}

void FileRecordStore::Finish() {
    Flush();
    if (std::fflush(fpFile) != 0)
        throw HostError(HostError::kData, "cannot write the temporary record file: " +
                                              std::string(std::strerror(errno)));
    std::vector<double>().swap(fvBlock);
}

std::unique_ptr<MCCommon_850::MultiPassRecordIter> FileRecordStore::MakeIterator() const {
    std::rewind(fpFile);
    return std::make_unique<MCCommon_850::BinaryRecordIterator>(fpFile, fNValues);
}

}  // namespace mchost
