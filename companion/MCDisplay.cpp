#include "companion/MCDisplay.h"

#include <atomic>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <iostream>

#include "companion/MCMV.h"

namespace MCDisplay_850 {

const char* const kMissingText = "SYSMIS";

namespace {

std::atomic<std::ostream*> gpStream{nullptr};

std::ostream& Out() {
    std::ostream* s = gpStream.load();
    return s != nullptr ? *s : std::cout;
}

void WriteLine(const std::string& label, const std::string& value) {
    Out() << label << " = " << value << '\n';
}

}  // namespace

void SetDisplayStream(std::ostream* stream) {
    gpStream.store(stream);
}

std::ostream* GetDisplayStream() {
    std::ostream* s = gpStream.load();
    return s != nullptr ? s : &std::cout;
}

std::string FormatDouble(double x) {
    if (MCCommon_850::MCMV::IsMissing(x)) return kMissingText;
    if (std::isnan(x)) return "nan";
    if (std::isinf(x)) return x > 0 ? "inf" : "-inf";
    char buf[64];
    const auto res = std::to_chars(buf, buf + sizeof buf, x);
    return std::string(buf, res.ptr);
}

void DisplayText(const std::string& text) {
    Out() << text << '\n';
}

void DisplayB(const std::string& label, bool value) {
    WriteLine(label, value ? "true" : "false");
}

void DisplayI(const std::string& label, long long value) {
    WriteLine(label, std::to_string(value));
}

void DisplayD(const std::string& label, double value) {
    WriteLine(label, FormatDouble(value));
}

void DisplayDF(const std::string& label, double value, int decimals) {
    if (MCCommon_850::MCMV::IsMissing(value) || !std::isfinite(value)) {
        WriteLine(label, FormatDouble(value));
        return;
    }
    if (decimals < 0) decimals = 0;
    if (decimals > 17) decimals = 17;
    // 309 integer digits + sign + point + 17 decimals fit comfortably.
    char buf[400];
    std::snprintf(buf, sizeof buf, "%.*f", decimals, value);
    WriteLine(label, buf);
}

void DisplayS(const std::string& label, const std::string& value) {
    WriteLine(label, value);
}

void DisplayIV(const std::string& label, const std::vector<int>& values) {
    std::string s = "[" + std::to_string(values.size()) + "]";
    for (int v : values) s += " " + std::to_string(v);
    WriteLine(label, s);
}

void DisplayDV(const std::string& label, const std::vector<double>& values) {
    std::string s = "[" + std::to_string(values.size()) + "]";
    for (double v : values) s += " " + FormatDouble(v);
    WriteLine(label, s);
}

}  // namespace MCDisplay_850
