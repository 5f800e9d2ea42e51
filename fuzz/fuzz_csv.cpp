// libFuzzer target: arbitrary bytes as a CSV file. Byte 0 picks where the
// input is split into two pieces and which columns the selector loads; the
// rest is the file. Besides the sanitizers, the target traps when the table
// breaks an invariant: every loaded column has one cell per data record, a
// cell is exactly one of number, text or missing, text codes index the
// column's texts, which are distinct, reading in two pieces gives the same
// table (or the same error) as reading in one, and reading the whole input
// at once leaves no column with both numbers and texts.
#include <cmath>
#include <cstdint>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "host/CsvReader.h"
#include "host/HostError.h"

using mchost::CsvReader;
using mchost::DataColumn;
using mchost::DataTable;
using mchost::HostError;

namespace {

void Require(bool condition) {
    if (!condition) __builtin_trap();
}

// The table as text, or the error, for comparing two readings.
std::string Read(const std::string& text, std::size_t split, unsigned mask) {
    auto selector = [mask](const std::vector<std::string>& header) {
        std::vector<bool> keep(header.size());
        for (std::size_t i = 0; i < keep.size(); ++i) keep[i] = ((mask >> (i % 4)) & 1) != 0;
        return keep;
    };
    try {
        CsvReader r(selector);
        r.Feed(text.data(), split);
        r.Feed(text.data() + split, text.size() - split);
        const DataTable t = r.Finish();
        std::string dump = std::to_string(t.GetNRows()) + "\n";
        for (const DataColumn& c : t.GetColumns()) {
            dump += c.GetName() + "\x1f";
            if (!c.IsLoaded()) {
                Require(c.GetNRows() == 0);
                continue;
            }
            Require(c.GetNRows() == t.GetNRows());
            const auto& texts = c.GetTexts();
            Require(std::set<std::string>(texts.begin(), texts.end()).size() == texts.size());
            for (std::size_t i = 0; i < c.GetNRows(); ++i) {
                const std::int32_t code = c.GetTextCode(i);
                const bool number = c.IsNumber(i), missing = c.IsMissing(i);
                Require(number + missing + (code >= 0) == 1);
                if (number) {
                    Require(std::isfinite(c.GetNumber(i)));
                    dump += std::to_string(c.GetNumber(i));
                } else if (code >= 0) {
                    Require(static_cast<std::size_t>(code) < texts.size());
                    Require(!texts[static_cast<std::size_t>(code)].empty());
                    dump += "T" + texts[static_cast<std::size_t>(code)];
                }
                dump += "\x1e";
            }
        }
        return dump;
    } catch (const HostError& e) {
        Require(e.GetKind() == HostError::kData);
        return std::string("error: ") + e.what();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);
    const std::size_t split = text.empty() ? 0 : (data[0] * 131u) % (text.size() + 1);
    const unsigned mask = (data[0] >> 4) | 1u;
    const std::string whole = Read(text, text.size(), mask);
    const std::string pieces = Read(text, split, mask);
    // Errors may differ in the byte offset they quote; the tables may not.
    if (whole.rfind("error: ", 0) == 0)
        Require(pieces.rfind("error: ", 0) == 0);
    else
        Require(whole == pieces);
    try {
        const DataTable t = CsvReader::ReadString(text);
        Require(whole.rfind("error: ", 0) != 0);
        Require(std::to_string(t.GetNRows()) + "\n" == whole.substr(0, whole.find('\n') + 1));
        for (const DataColumn& c : t.GetColumns()) Require(!c.IsMixed());
    } catch (const HostError&) {
        Require(whole.rfind("error: ", 0) == 0);
    }
    return 0;
}
