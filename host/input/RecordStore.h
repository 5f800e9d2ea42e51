#pragma once
#include <cstddef>
#include <cstdio>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "companion/RecordIterator.h"
#include "host/base/LargeAllocator.h"

namespace mchost {

// Where the coded records of a data set are kept between reading and the
// library's passes: fixed-length records of doubles in the library's binary
// record layout, either in memory or in a temporary file read back by the
// library's binary record iterator. Both hold the same bytes, so a fit
// gives the same results from either.
class RecordStore {
public:
    explicit RecordStore(int nValues) : fNValues(nValues) {}
    virtual ~RecordStore() = default;
    RecordStore(const RecordStore&) = delete;
    RecordStore& operator=(const RecordStore&) = delete;

    // Room for n more records, to be filled before the next call.
    virtual double* Append(std::size_t n) = 0;
    // All records are in; iterators may be made.
    virtual void Finish() = 0;
    // A stream over the records; one at a time, the store must outlive it.
    virtual std::unique_ptr<MCCommon_850::MultiPassRecordIter> MakeIterator() const {
        return MakeRangeIterator(0, fNRecords);
    }
    // A stream over records begin .. end-1 alone, for one part of a fit
    // that several threads make at once: any number of them may exist and
    // be read at the same time, each on its own thread.
    virtual std::unique_ptr<MCCommon_850::MultiPassRecordIter> MakeRangeIterator(
        std::size_t begin, std::size_t end) const = 0;
    // The records one after another in memory (GetNValues() values each),
    // for a reader that takes them where they lie; null when they are not.
    virtual const double* Contiguous() const { return nullptr; }
    // True for a store that keeps its records in a file.
    virtual bool IsStreaming() const = 0;
    // True for a store that reads its records from memory its caller owns
    // (a data frame's columns), which may change after the reading.
    virtual bool IsBorrowed() const { return false; }
    // False when the records are no longer those that were read.
    virtual bool Unchanged() const { return true; }

    int GetNValues() const { return fNValues; }
    std::size_t GetNRecords() const { return fNRecords; }

protected:
    int fNValues;
    std::size_t fNRecords = 0;
};

class MemoryRecordStore : public RecordStore {
public:
    MemoryRecordStore(int nValues, std::size_t expectedRecords);

    double* Append(std::size_t n) override;
    void Finish() override {}
    std::unique_ptr<MCCommon_850::MultiPassRecordIter> MakeRangeIterator(
        std::size_t begin, std::size_t end) const override;
    bool IsStreaming() const override { return false; }
    const double* Contiguous() const override { return fvValues.data(); }

    // The reserved bytes that `more` records after the next `skip` will
    // fill, as far as the reservation goes; empty when appending the skip
    // records would move the store. Another thread may fault them in while
    // those are appended.
    std::pair<char*, char*> RoomAfter(std::size_t skip, std::size_t more);

private:
    std::vector<double, LargeAllocator<double>> fvValues;
};

// Records in an unnamed temporary file in dir (removed at once, so it goes
// with the process however that ends); peak memory is one block of records.
class FileRecordStore : public RecordStore {
public:
    FileRecordStore(int nValues, const std::string& dir);
    ~FileRecordStore() override;

    double* Append(std::size_t n) override;
    void Finish() override;
    std::unique_ptr<MCCommon_850::MultiPassRecordIter> MakeIterator() const override;
    // Reads its range with pread into a buffer of its own, so that the
    // parts of a fit read the file in parallel without sharing an offset.
    std::unique_ptr<MCCommon_850::MultiPassRecordIter> MakeRangeIterator(
        std::size_t begin, std::size_t end) const override;
    bool IsStreaming() const override { return true; }

private:
    void Flush();

    std::FILE* fpFile = nullptr;
    std::unique_ptr<char[]> fpStdioBuffer;
    std::vector<double> fvBlock;  // appended records not yet written
    std::size_t fNPending = 0;    // values of fvBlock in use
};

// The folder for temporary files: $TMPDIR, else /tmp.
std::string DefaultTempDir();

}  // namespace mchost
