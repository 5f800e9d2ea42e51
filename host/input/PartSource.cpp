#include "host/input/PartSource.h"

#include <algorithm>
#include <cstring>

#include "host/base/HostError.h"

namespace mchost {

namespace {

constexpr std::size_t kBlock = std::size_t(1) << 20;

bool IsLineEnd(int c) {
    return c == '\n' || c == '\r';
}

}  // namespace

PartSource::PartSource(ByteSource& source, int part, int parts) : fSource(source) {
    const std::size_t size = source.Size();
    const auto p = static_cast<std::size_t>(part), n = static_cast<std::size_t>(parts);
    // The sizes of parts of a big input stay far from overflow as doubles.
    fFrom = part == 0 ? 0 : static_cast<std::size_t>(static_cast<double>(size) * p / n);
    fTo = part + 1 >= parts ? static_cast<std::size_t>(-1)
                            : static_cast<std::size_t>(static_cast<double>(size) * (p + 1) / n);
    Start();
}

int PartSource::Peek() {
    if (fAt == fFilled) {
        if (fbEof) return -1;
        fvBuf.resize(kBlock);
        fAt = 0;
        fFilled = fSource.Read(fvBuf.data(), fvBuf.size());
        if (fFilled == 0) {
            fbEof = true;
            return -1;
        }
    }
    return static_cast<unsigned char>(fvBuf[fAt]);
}

void PartSource::Take(char c) {
    if (fbLineStart && !IsLineEnd(c)) fbLineStart = false;
    if (c == '"') fbQuoted = !fbQuoted;
    fLastEnd = !fbQuoted && IsLineEnd(c) ? c : 0;
    if (fLastEnd != 0) fbLineStart = true;
    fPrevious = c;
    ++fAt;
    ++fPos;
}

bool PartSource::AtRecordStart() {
    if (fLastEnd == '\n') return true;
    // Between the CR and the LF of a CRLF no record starts.
    return fLastEnd == '\r' && Peek() != '\n';
}

void PartSource::CopyHead(std::size_t n) {
    for (std::size_t k = 0; k < n && Peek() >= 0; ++k) {
        const char c = static_cast<char>(Peek());
        fHead += c;
        Take(c);
    }
}

void PartSource::Start() {
    fvBuf.clear();
    fAt = fFilled = fPos = 0;
    fbEof = fbQuoted = fbDone = false;
    fLastEnd = fPrevious = 0;
    fbLineStart = true;
    fHead.clear();
    fHeadAt = fBlankLines = fRowsBefore = 0;
    fByteShift = 0;
    // The head as a reader takes it: a byte order mark, a line "sep=;"
    // that declares the delimiter, blank lines, then the header record.
    const auto at = [&](std::size_t k) {
        // Peeks k bytes ahead within the first block, which holds them.
        return fAt + k < fFilled ? static_cast<unsigned char>(fvBuf[fAt + k]) : -1;
    };
    Peek();
    if (at(0) == 0xEF && at(1) == 0xBB && at(2) == 0xBF) CopyHead(3);
    const bool sep = fFilled - fAt >= 6 && (std::memcmp(fvBuf.data() + fAt, "sep=", 4) == 0 ||
                                            std::memcmp(fvBuf.data() + fAt, "SEP=", 4) == 0);
    if (sep && IsLineEnd(at(5)) && at(4) != '"' && !IsLineEnd(at(4))) {
        CopyHead(5);
        fLastEnd = 0;
    }
    while (IsLineEnd(Peek())) CopyHead(1);
    fLastEnd = 0;
    while (Peek() >= 0 && !AtRecordStart()) CopyHead(1);
    if (fFrom == 0) return;
    // The records before the part: counted, their line ends kept.
    fbLineStart = true;
    for (;;) {
        const int c = Peek();
        if (c < 0) break;
        if (fPos >= fFrom && AtRecordStart()) break;
        if (fbLineStart && !IsLineEnd(c)) ++fRowsBefore;
        if (c == '\r' || (c == '\n' && fPrevious != '\r')) ++fBlankLines;
        Take(static_cast<char>(c));
    }
    fByteShift = static_cast<long long>(fPos) - static_cast<long long>(fHead.size() + fBlankLines);
}

bool PartSource::Rewind() {
    if (!fSource.Rewind()) return false;
    Start();
    return true;
}

std::size_t PartSource::Read(char* buf, std::size_t n) {
    std::size_t done = 0;
    while (done < n && fHeadAt < fHead.size()) buf[done++] = fHead[fHeadAt++];
    for (; done < n && fBlankLines > 0; --fBlankLines) buf[done++] = '\n';
    while (done < n && !fbDone) {
        const int c = Peek();
        if (c < 0 || (fPos >= fTo && AtRecordStart())) {
            fbDone = true;
            break;
        }
        buf[done++] = static_cast<char>(c);
        Take(static_cast<char>(c));
    }
    return done;
}

}  // namespace mchost
