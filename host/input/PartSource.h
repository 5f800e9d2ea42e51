#pragma once
#include <cstddef>
#include <string>
#include <vector>

#include "host/input/ByteSource.h"

namespace mchost {

// One of several parts of a CSV input, for processes that each read their
// own: the input's head (a byte order mark, a "sep=" line, blank lines and
// the header record) and then the records of part `part` of `parts`. The
// input's bytes are cut into equal ranges and each part holds the records
// that start in its range; a line end after an even number of quotes ends
// a record, as in any well-formed CSV, so the parts hold every record
// once, in order. The records of the parts before come as the line ends
// they hold, blank lines a reader skips, so that a message's line is the
// line of the whole input; RowsBefore() and ByteShift() place a message's
// data row and byte. Every part reads the input from its start; the last reads on
// to its end whatever its size said.
class PartSource : public ByteSource {
public:
    // The source must outlive the part. Throws HostError when it fails.
    PartSource(ByteSource& source, int part, int parts);

    std::size_t Read(char* buf, std::size_t n) override;
    bool Rewind() override;
    std::size_t Size() const override { return fSource.Size(); }
    const std::string& Name() const override { return fSource.Name(); }
    std::size_t RowsBefore() const { return fRowsBefore; }
    // The input's byte offset of a byte of the part's records less the
    // offset Read gives it.
    long long ByteShift() const { return fByteShift; }

private:
    // Reads the head and passes over the records before the part.
    void Start();
    // The next byte, -1 at the end of the input.
    int Peek();
    // Takes the byte Peek gave, keeping the quoting and line state.
    void Take(char c);
    // Whether a record may start at the next byte.
    bool AtRecordStart();
    void CopyHead(std::size_t n);

    ByteSource& fSource;
    std::size_t fFrom = 0;  // the part's bytes
    std::size_t fTo = 0;
    std::vector<char> fvBuf;
    std::size_t fAt = 0, fFilled = 0;
    std::size_t fPos = 0;  // of fvBuf[fAt] in the input
    bool fbEof = false;
    bool fbQuoted = false;
    char fLastEnd = 0;  // the line end just taken outside quotes, else 0
    bool fbLineStart = true;
    char fPrevious = 0;
    // What Read hands out before the part's records.
    std::string fHead;
    std::size_t fHeadAt = 0;
    std::size_t fBlankLines = 0;
    std::size_t fRowsBefore = 0;
    long long fByteShift = 0;
    bool fbDone = false;
};

}  // namespace mchost
