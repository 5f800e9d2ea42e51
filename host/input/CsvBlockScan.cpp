#include "host/input/CsvBlockScan.h"

#include <algorithm>

#include "host/base/PageFault.h"

namespace mchost {

CsvBlockScan::CsvBlockScan(const std::vector<ColumnPlan>& plan, char delimiter,
                           const std::vector<std::string>& naValues, unsigned nThreads,
                           std::size_t minSplitBytes)
    : fMinSplitBytes(std::max<std::size_t>(minSplitBytes, 1)) {
    fvScanners.reserve(std::max(nThreads, 1u));
    for (unsigned i = 0; i < std::max(nThreads, 1u); ++i)
        fvScanners.emplace_back(plan, delimiter, naValues);
}

void CsvBlockScan::Split(const char* b, const char* e, const char* filled, const char* middle) {
    Wait();
    fFilled = filled;
    // As many pieces as threads, of about equal bytes, but none smaller
    // than fMinSplitBytes; each split moves on to the next record start.
    const auto bytes = static_cast<std::size_t>(e - b);
    const std::size_t n =
        std::max<std::size_t>(1, std::min(fvScanners.size(), bytes / fMinSplitBytes));
    fvBounds.assign(1, b);
    if (n == 2 && middle != nullptr && middle > b && middle < e) fvBounds.push_back(middle);
    for (std::size_t i = fvBounds.size(); i < n; ++i) {
        const char* at = b + bytes * i / n;
        if (at <= fvBounds.back()) continue;
        const char* start = CsvScanner::NextRecordStart(fvBounds.back(), at, e);
        if (start == e) break;
        fvBounds.push_back(start);
    }
    fvBounds.push_back(e);
    const std::size_t pieces = fvBounds.size() - 1;
    fvChunks.resize(pieces);
}

void CsvBlockScan::Launch(TaskThreads* threads, std::pair<char*, char*> faultIn) {
    const std::size_t pieces = fvChunks.size();
    if (threads == nullptr || threads->Size() == 0 || fvScanners.size() == 1) {
        for (std::size_t i = 0; i < pieces; ++i) ScanPiece(i);
        return;
    }
    const std::size_t bytes = faultIn.second > faultIn.first
                                  ? static_cast<std::size_t>(faultIn.second - faultIn.first)
                                  : 0;
    threads->Start(
        [this, pieces, bytes, faultIn](std::size_t i) {
            ScanPiece(i);
            FaultInPages(faultIn.first + bytes * i / pieces,
                         faultIn.first + bytes * (i + 1) / pieces);
        },
        pieces);
    fpThreads = threads;
}

void CsvBlockScan::ScanPiece(std::size_t i) {
    fvScanners[i].Scan(fvBounds[i], fvBounds[i + 1], fvChunks[i], fFilled);
}

void CsvBlockScan::Wait() {
    if (fpThreads == nullptr) return;
    fpThreads->Wait();
    fpThreads = nullptr;
}

std::size_t CsvBlockScan::Records() const {
    std::size_t n = 0;
    for (const CellChunk& c : fvChunks) n += c.fNRecords;
    return n;
}

std::size_t CsvBlockScan::LineEnds() const {
    std::size_t n = 0;
    for (const CellChunk& c : fvChunks) n += c.fNLineEnds;
    return n;
}

}  // namespace mchost
