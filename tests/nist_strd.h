#pragma once
// Reading the NIST StRD linear regression sets (CSV observations and JSON
// certified values) and scoring results by log relative error.
#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "support/golden.h"

namespace nist {

// The text after "key": up to the end of its value (enough for the flat
// NIST files: numbers, booleans, and arrays of numbers or strings).
inline std::string JsonValue(const std::string& json, const std::string& key) {
    const std::size_t at = json.find("\"" + key + "\":");
    if (at == std::string::npos) return "";
    std::size_t b = at + key.size() + 3;
    while (b < json.size() && json[b] == ' ') ++b;
    if (b >= json.size()) return "";
    std::size_t e = json[b] == '[' ? json.find(']', b) : json.find_first_of(",\n}", b);
    if (e == std::string::npos) return "";
    if (json[b] == '[') ++e;
    return json.substr(b, e - b);
}

inline std::vector<std::string> JsonItems(const std::string& array) {
    std::vector<std::string> items;
    if (array.size() < 2) return items;
    std::string cur;
    for (char c : array.substr(1, array.size() - 2)) {
        if (c == ',') {
            items.push_back(cur);
            cur.clear();
        } else if (c != ' ' && c != '"') {
            cur += c;
        }
    }
    if (!cur.empty()) items.push_back(cur);
    return items;
}

inline std::vector<double> JsonNumbers(const std::string& json, const std::string& key) {
    std::vector<double> v;
    for (const std::string& s : JsonItems(JsonValue(json, key))) v.push_back(std::stod(s));
    return v;
}

// Digits of agreement; for a certified 0 the absolute error counts.
inline double Lre(double est, double cert) {
    const double err = cert == 0.0 ? std::fabs(est) : std::fabs(est - cert) / std::fabs(cert);
    if (!(err == err)) return 0.0;
    return err == 0.0 ? 15.0 : std::min(15.0, -std::log10(err));
}

struct DataSet {
    std::string name;
    // Empty when the set was read; otherwise names what is missing.
    std::string error;
    std::string json;
    std::vector<std::string> designColumns;  // "1", "x", "x^k", "x1".."x6"
    std::vector<double> estimates, stdErrors;
    double residualSd = 0, rSquared = 0;
    std::vector<std::vector<std::string>> cells;  // y first, then predictors, as written
};

// The set called name from tests/golden/nist-strd; a missing file fails the
// test by name (support/golden.h).
inline DataSet Load(const std::string& name) {
    DataSet d;
    d.name = name;
    const std::string base = "nist-strd/" + name;
    d.json = golden::Text(base + ".json");
    if (d.json.empty()) {
        d.error = "cannot read " + golden::Path(base + ".json");
        return d;
    }
    d.designColumns = JsonItems(JsonValue(d.json, "design_columns"));
    d.estimates = JsonNumbers(d.json, "estimates");
    d.stdErrors = JsonNumbers(d.json, "std_errors");
    const std::string sd = JsonValue(d.json, "residual_sd");
    const std::string r2 = JsonValue(d.json, "r_squared");
    if (sd.empty() || r2.empty() || d.estimates.empty()) {
        d.error = golden::Path(base + ".json") + " lacks certified values";
        return d;
    }
    d.residualSd = std::stod(sd);
    d.rSquared = std::stod(r2);
    d.cells = golden::ReadCsv(base + ".csv").rows;
    if (d.cells.empty()) d.error = "no observations in " + golden::Path(base + ".csv");
    return d;
}

inline const char* const kSets[] = {"Norris",   "Pontius",  "NoInt1",   "NoInt2",
                                    "Filip",    "Longley",  "Wampler1", "Wampler2",
                                    "Wampler3", "Wampler4", "Wampler5"};

}  // namespace nist
