#pragma once
// The one reader of the golden files in tests/golden, which the R scripts in
// tools/reference write. A test names its file; a missing or unreadable file
// fails the test with the file's path. Three formats:
//
//  - entries (ReadEntries): whitespace-separated "key n v1 ... vn", grouped
//    into cases by "case NAME" ... "end" (entries outside a case belong to
//    the unnamed case ""), and "data rows cols" followed by rows x cols
//    numbers, the records;
//  - named values (ReadValues): lines "name value";
//  - CSV with a header line (ReadCsv; ParseCsv reads any CSV text, the
//    program's output files too).
//
// R's NA (a value that does not exist) reads as kNA, which IsNA tells from
// every number: no number, -1 included, stands for a missing value.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <iterator>
#include <limits>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace golden {

constexpr double kNA = std::numeric_limits<double>::quiet_NaN();
inline bool IsNA(double v) {
    return std::isnan(v);
}

inline std::string Path(const std::string& name) {
    return std::string(MCREG_GOLDEN_DIR) + "/" + name;
}

// Opens a golden file; a failure names it when it cannot be read.
inline bool Open(const std::string& name, std::ifstream& in) {
    in.open(Path(name), std::ios::binary);
    if (in) return true;
    ADD_FAILURE() << "golden file missing or unreadable: " << Path(name)
                  << " (written by a script in tools/reference)";
    return false;
}

// The whole file ("" when it is missing, which fails the test).
inline std::string Text(const std::string& name) {
    std::ifstream in;
    if (!Open(name, in)) return "";
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// A number as R writes it; NA (and NaN) read as kNA.
inline double Number(const std::string& s) {
    if (s == "NA" || s == "NaN") return kNA;
    std::size_t used = 0;
    const double v = std::stod(s, &used);
    if (used != s.size()) ADD_FAILURE() << "not a number in a golden file: " << s;
    return v;
}

// One case of an entries file.
struct Case {
    std::string name;
    std::vector<std::vector<double>> data;              // "data rows cols"
    std::map<std::string, std::vector<double>> values;  // "key n values"

    bool Has(const std::string& key) const { return values.count(key) != 0; }
    // The values of key; a failure (and an empty list) when there is none.
    const std::vector<double>& At(const std::string& key) const {
        static const std::vector<double> kNone;
        auto it = values.find(key);
        if (it != values.end()) return it->second;
        ADD_FAILURE() << "golden case '" << name << "' has no entry '" << key << "'";
        return kNone;
    }
    // The single value of key.
    double Scalar(const std::string& key) const {
        const std::vector<double>& v = At(key);
        if (v.size() != 1) {
            ADD_FAILURE() << "golden entry '" << key << "' of case '" << name << "' holds "
                          << v.size() << " values, not 1";
            return kNA;
        }
        return v[0];
    }
};

struct Entries {
    std::vector<Case> cases;  // in file order; the unnamed case first

    // The case called name; a failure (and an empty case) when there is none.
    const Case& Get(const std::string& name) const {
        static const Case kNone;
        for (const Case& c : cases)
            if (c.name == name) return c;
        ADD_FAILURE() << "golden file has no case '" << name << "'";
        return kNone;
    }
};

inline Entries ReadEntries(const std::string& file) {
    Entries e;
    e.cases.emplace_back();
    std::ifstream in;
    if (!Open(file, in)) return e;
    Case* current = &e.cases.front();
    std::string key, token;
    auto count = [&](std::size_t& n) {
        if (in >> n) return true;
        ADD_FAILURE() << file << ": entry '" << key << "' without a count";
        return false;
    };
    auto numbers = [&](std::size_t n, std::vector<double>& v) {
        v.clear();
        for (std::size_t i = 0; i < n && in >> token; ++i) v.push_back(Number(token));
        if (v.size() != n) ADD_FAILURE() << file << ": entry '" << key << "' is cut short";
    };
    while (in >> key) {
        if (key == "case") {
            e.cases.emplace_back();
            current = &e.cases.back();
            in >> current->name;
        } else if (key == "end") {
            current = &e.cases.front();
        } else if (key == "data") {
            std::size_t rows = 0, cols = 0;
            if (!count(rows) || !count(cols)) break;
            current->data.resize(rows);
            for (auto& row : current->data) numbers(cols, row);
        } else {
            std::size_t n = 0;
            if (!count(n)) break;
            numbers(n, current->values[key]);
        }
    }
    return e;
}

// "name value" lines.
inline std::map<std::string, double> ReadValues(const std::string& file) {
    std::map<std::string, double> values;
    std::ifstream in;
    if (!Open(file, in)) return values;
    std::string name, value;
    while (in >> name >> value) values[name] = Number(value);
    return values;
}

// A CSV text with a header line (RFC 4180): quoted fields may hold commas,
// doubled quotes and line ends; a UTF-8 byte-order mark is skipped; LF,
// CRLF and a lone CR end a record; blank lines are skipped.
struct Csv {
    std::vector<std::string> header;
    std::vector<std::vector<std::string>> rows;

    // The position of a column; a failure (and -1) when there is none.
    int Column(const std::string& name) const {
        for (std::size_t i = 0; i < header.size(); ++i)
            if (header[i] == name) return static_cast<int>(i);
        ADD_FAILURE() << "CSV has no column '" << name << "'";
        return -1;
    }
    const std::string& Text(std::size_t row, const std::string& column) const {
        static const std::string kNone;
        const int c = Column(column);
        return c < 0 || static_cast<std::size_t>(c) >= rows[row].size()
                   ? kNone
                   : rows[row][static_cast<std::size_t>(c)];
    }
    double Value(std::size_t row, const std::string& column) const {
        return Number(Text(row, column));
    }
};

inline Csv ParseCsv(const std::string& text) {
    std::vector<std::vector<std::string>> records;
    std::vector<std::string> record;
    std::string field;
    bool quoted = false, started = false;  // started: the record has a character
    auto endRecord = [&] {
        if (started) {
            record.push_back(field);
            records.push_back(record);
        }
        record.clear();
        field.clear();
        started = false;
    };
    std::size_t i = text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (quoted) {
            if (c != '"') {
                field += c;
            } else if (i + 1 < text.size() && text[i + 1] == '"') {
                field += '"';
                ++i;
            } else {
                quoted = false;
            }
            continue;
        }
        if (c == '\n' || c == '\r') {
            if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
            endRecord();
            continue;
        }
        started = true;
        if (c == '"') {
            quoted = true;
        } else if (c == ',') {
            record.push_back(field);
            field.clear();
        } else {
            field += c;
        }
    }
    if (quoted) ADD_FAILURE() << "CSV ends inside a quoted field";
    endRecord();
    Csv csv;
    if (records.empty()) return csv;
    csv.header = std::move(records.front());
    csv.rows.assign(std::make_move_iterator(records.begin() + 1),
                    std::make_move_iterator(records.end()));
    return csv;
}

// A golden CSV file.
inline Csv ReadCsv(const std::string& file) {
    return ParseCsv(Text(file));
}

}  // namespace golden
