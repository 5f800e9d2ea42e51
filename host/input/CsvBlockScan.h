#pragma once
#include <cstddef>
#include <string>
#include <utility>
#include <vector>

#include "host/base/TaskThreads.h"
#include "host/input/CellChunk.h"
#include "host/input/CsvScanner.h"

namespace mchost {

// Scans a block of whole records as pieces that each start at a record
// start, one scanner and one chunk per piece, on other threads so that the
// caller can code the block before meanwhile; each piece's line ends are
// counted as it is scanned.
class CsvBlockScan {
public:
    CsvBlockScan(const std::vector<ColumnPlan>& plan, char delimiter,
                 const std::vector<std::string>& naValues);
    ~CsvBlockScan() { Wait(); }
    CsvBlockScan(const CsvBlockScan&) = delete;
    CsvBlockScan& operator=(const CsvBlockScan&) = delete;

    // Splits the records of [b, e) into pieces at starts, the record
    // starts within it in increasing order (those outside are passed
    // over); filled is where the buffer's bytes end (a CR at e - 1 followed
    // there by an LF is no line end of its own). The pieces of the block
    // before must be done with.
    void Split(const char* b, const char* e, const char* filled,
               const std::vector<const char*>& starts);
    // Scans the pieces on threads when they are given, else before it
    // returns. The threads then fault in
    // the pages of [faultIn.first, faultIn.second) once their pieces are
    // scanned, each a share: the memory the block's records are to be
    // coded into, which the caller must not free or fill before Wait. The
    // threads must outlive this scan, or the next Split or Wait.
    void Launch(TaskThreads* threads, std::pair<char*, char*> faultIn = {});
    // Until every piece is scanned, scanning those that no thread has
    // taken yet.
    void Wait();

    std::size_t NPieces() const { return fvChunks.size(); }
    const char* PieceStart(std::size_t i) const { return fvBounds[i]; }
    const char* PieceEnd(std::size_t i) const { return fvBounds[i + 1]; }
    const CellChunk& Chunk(std::size_t i) const { return fvChunks[i]; }
    // The line ends and the records of the whole block.
    std::size_t LineEnds() const;
    std::size_t Records() const;

private:
    void ScanPiece(std::size_t i);

    std::vector<ColumnPlan> fPlan;
    char fDelimiter;
    std::vector<std::string> fvNaValues;
    std::vector<CsvScanner> fvScanners;  // one per piece
    const char* fFilled = nullptr;
    std::vector<const char*> fvBounds;  // piece i is [fvBounds[i], fvBounds[i + 1])
    std::vector<CellChunk> fvChunks;
    TaskThreads* fpThreads = nullptr;  // while they scan this block
};

}  // namespace mchost
