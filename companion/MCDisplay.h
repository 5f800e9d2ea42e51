#pragma once
#include <ostream>
#include <string>
#include <vector>

// Printers of the diagnostic dumps written by the Display() operations.
//
// Every printer writes one line "label = value" (DisplayText writes the text
// alone) to the display stream, std::cout unless the host redirected it.
// Doubles are written with the shortest text that reads back to the same
// double; the system-missing value is written as "SYSMIS" so that it cannot
// be mistaken for a number in a dump.
namespace MCDisplay_850 {

// The text written for the system-missing value.
extern const char* const kMissingText;

// Redirects all printers to *stream; null restores std::cout. The stream is
// not owned and must outlive its use. The pointer is swapped atomically, but
// a stream itself should be written by one thread at a time.
void SetDisplayStream(std::ostream* stream);
std::ostream* GetDisplayStream();

// Shortest round-trip text of x ("SYSMIS" for the missing value, "nan",
// "inf" or "-inf" for the non-finite values).
std::string FormatDouble(double x);

void DisplayText(const std::string& text);
void DisplayB(const std::string& label, bool value);
void DisplayI(const std::string& label, long long value);
void DisplayD(const std::string& label, double value);
// Fixed-point with the given number of decimals (0 to 17; others clamped).
void DisplayDF(const std::string& label, double value, int decimals);
void DisplayS(const std::string& label, const std::string& value);
// Vectors are written as "label = [n] v1 v2 ...", n being the length.
void DisplayIV(const std::string& label, const std::vector<int>& values);
void DisplayDV(const std::string& label, const std::vector<double>& values);

}  // namespace MCDisplay_850
