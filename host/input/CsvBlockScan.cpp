#include "host/input/CsvBlockScan.h"

#include "host/base/PageFault.h"

namespace mchost {

CsvBlockScan::CsvBlockScan(const std::vector<ColumnPlan>& plan, char delimiter,
                           const std::vector<std::string>& naValues)
    : fPlan(plan), fDelimiter(delimiter), fvNaValues(naValues) {}

void CsvBlockScan::Split(const char* b, const char* e, const char* filled,
                         const std::vector<const char*>& starts) {
    Wait();
    fFilled = filled;
    fvBounds.assign(1, b);
    for (const char* start : starts)
        if (start > fvBounds.back() && start < e) fvBounds.push_back(start);
    fvBounds.push_back(e);
    const std::size_t pieces = fvBounds.size() - 1;
    fvChunks.resize(pieces);
    while (fvScanners.size() < pieces) fvScanners.emplace_back(fPlan, fDelimiter, fvNaValues);
}

void CsvBlockScan::Launch(TaskThreads* threads, std::pair<char*, char*> faultIn) {
    const std::size_t pieces = fvChunks.size();
    if (threads == nullptr || pieces == 1) {
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
