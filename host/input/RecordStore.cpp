#include "host/input/RecordStore.h"

#include <stdio_ext.h>
#include <unistd.h>

#include <algorithm>
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

// Records begin .. end-1 of a file of fixed-length records, read a block at
// a time with pread: the file offset is never moved, so any number of these
// read one file at once.
class FileRangeIter : public MCCommon_850::MultiPassRecordIter {
public:
    FileRangeIter(int fd, int nValues, std::size_t begin, std::size_t end)
        : fFd(fd),
          fNValues(static_cast<std::size_t>(nValues)),
          fBegin(begin),
          fEnd(end),
          fRecord(nValues) {
        const std::size_t perBlock =
            std::max<std::size_t>(1, (std::size_t(1) << 20) / RecordBytes());
        fvBlock.resize(perBlock * fNValues);
        NewPass();
    }

    bool HasMore() const override { return fFail == MCCommon_850::kIterOK && fNext < fEnd; }
    MCCommon_850::Record* Next() override {
        if (!HasMore()) return nullptr;
        if (fInBlock == fBlockRecords && !Refill()) return nullptr;
        std::memcpy(fRecord.GetAll(), fvBlock.data() + fInBlock * fNValues, RecordBytes());
        ++fInBlock;
        ++fNext;
        return &fRecord;
    }
    int GetFailReason() const override {
        if (fFail != MCCommon_850::kIterOK) return fFail;
        return fNext < fEnd ? MCCommon_850::kIterOK : MCCommon_850::kIterEnd;
    }
    int NewPass() override {
        fNext = fBegin;
        fInBlock = fBlockRecords = 0;
        fFail = MCCommon_850::kIterOK;
        return GetFailReason();
    }

private:
    std::size_t RecordBytes() const { return fNValues * sizeof(double); }
    bool Refill() {
        const std::size_t n = std::min(fvBlock.size() / fNValues, fEnd - fNext);
        char* to = reinterpret_cast<char*>(fvBlock.data());
        std::size_t want = n * RecordBytes(), got = 0;
        const auto at = static_cast<off_t>(fNext * RecordBytes());
        while (got < want) {
            const ssize_t r = ::pread(fFd, to + got, want - got, at + static_cast<off_t>(got));
            if (r < 0 && errno == EINTR) continue;
            if (r <= 0) {
                fFail = MCCommon_850::kIterReadError;
                return false;
            }
            got += static_cast<std::size_t>(r);
        }
        fBlockRecords = n;
        fInBlock = 0;
        return true;
    }

    int fFd;
    std::size_t fNValues;
    std::size_t fBegin, fEnd;
    std::size_t fNext = 0;
    std::vector<double> fvBlock;
    std::size_t fInBlock = 0, fBlockRecords = 0;
    int fFail = MCCommon_850::kIterOK;
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

std::pair<char*, char*> MemoryRecordStore::RoomAfter(std::size_t skip, std::size_t more) {
    const auto nValues = static_cast<std::size_t>(fNValues);
    const std::size_t from = fvValues.size() + skip * nValues;
    if (from > fvValues.capacity()) return {};
    const std::size_t to = std::min(fvValues.capacity(), from + more * nValues);
    char* const base = reinterpret_cast<char*>(fvValues.data());
    return {base + from * sizeof(double), base + to * sizeof(double)};
}

std::unique_ptr<MCCommon_850::MultiPassRecordIter> MemoryRecordStore::MakeRangeIterator(
    std::size_t begin, std::size_t end) const {
    end = std::min(end, fNRecords);
    begin = std::min(begin, end);
    return std::make_unique<MemoryRecordIter>(
        fvValues.data() + begin * static_cast<std::size_t>(fNValues), fNValues, end - begin);
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

std::unique_ptr<MCCommon_850::MultiPassRecordIter> FileRecordStore::MakeRangeIterator(
    std::size_t begin, std::size_t end) const {
    end = std::min(end, fNRecords);
    begin = std::min(begin, end);
    return std::make_unique<FileRangeIter>(::fileno(fpFile), fNValues, begin, end);
}

}  // namespace mchost
