// Reading a CSV under every combination of the reader's paths (in memory or
// streamed through a temporary file, blocks of many sizes, one or two
// threads) and the coded data as text, so that tests can compare them.
#pragma once
#include <cmath>
#include <string>
#include <vector>

#include "host/base/NumberText.h"
#include "host/input/CsvReader.h"

namespace mchost_test {

// Each loaded column as "name:" then its cells, "NA" for missing, "T<text>"
// for a text, "N<number>" for a categorical number and the number itself
// otherwise; then the used count.
inline std::string Dump(const mchost::CodedData& d) {
    std::string out =
        std::to_string(d.fNRecords) + " records, " + std::to_string(d.fNUsed) + " used\n";
    std::vector<std::vector<std::string>> cells(d.fvColumns.size());
    auto it = d.fpStore->MakeIterator();
    for (it->NewPass(); const auto* r = it->Next();) {
        for (std::size_t j = 0; j < d.fvColumns.size(); ++j) {
            const mchost::CodedColumn& c = d.fvColumns[j];
            const double v = (*r)[static_cast<int>(j)];
            const auto k = static_cast<std::size_t>(v);
            cells[j].push_back(std::isnan(v) ? "NA"
                               : c.IsText()  ? "T" + c.fTexts.GetTexts()[k]
                               : c.IsCoded() ? "N" + mchost::NumberText(c.fNumbers.GetNumbers()[k])
                                             : mchost::NumberText(v));
        }
    }
    for (std::size_t j = 0; j < d.fvColumns.size(); ++j) {
        out += d.fvColumns[j].fName + ":";
        for (const std::string& s : cells[j]) out += " " + s;
        out += "\n";
    }
    return out;
}

// The ways of reading: the default, then streamed, small blocks (tens of
// bytes times scale) on one thread and on two, and streamed on three.
inline std::vector<mchost::ReadOptions> AllPaths(std::size_t scale = 1) {
    std::vector<mchost::ReadOptions> ways(5);
    ways[1].fMemoryLimit = 0;
    for (std::size_t i = 2; i < ways.size(); ++i) {
        ways[i].fBlockBytes = (7 + 9 * i) * scale;
        ways[i].fMinSplitBytes = 1;
        ways[i].fThreads = static_cast<unsigned>(i - 1);
    }
    ways[4].fMemoryLimit = 0;
    return ways;
}

}  // namespace mchost_test
