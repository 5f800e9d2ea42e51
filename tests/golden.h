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
//  - CSV with a header line (ReadCsv).
//
// R's NA (a value that does not exist) reads as kNA, which IsNA tells from
// every number: no number, -1 included, stands for a missing value.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
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

// A CSV file with a header line; fields are not quoted.
struct Csv {
    std::vector<std::string> header;
    std::vector<std::vector<std::string>> rows;

    // The position of a column; a failure (and -1) when there is none.
    int Column(const std::string& name) const {
        for (std::size_t i = 0; i < header.size(); ++i)
            if (header[i] == name) return static_cast<int>(i);
        ADD_FAILURE() << "golden CSV has no column '" << name << "'";
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

inline Csv ReadCsv(const std::string& file) {
    Csv csv;
    std::ifstream in;
    if (!Open(file, in)) return csv;
    auto split = [](const std::string& line) {
        std::vector<std::string> fields;
        std::stringstream s(line);
        std::string f;
        while (std::getline(s, f, ',')) fields.push_back(f);
        if (!line.empty() && line.back() == ',') fields.emplace_back();
        return fields;
    };
    std::string line;
    if (std::getline(in, line)) csv.header = split(line);
    while (std::getline(in, line))
        if (!line.empty()) csv.rows.push_back(split(line));
    return csv;
}

}  // namespace golden
