#pragma once
#include <ostream>
#include <string>
#include <vector>

#include "companion/MCExport.h"

// Printers of the diagnostic dumps written by the Display() operations.
//
// Every printer writes one line "label = value" (DisplayText writes the text
// alone) to the display stream, std::cout unless the host redirected it.
// Doubles are written with the shortest text that reads back to the same
// double; the system-missing value is written as "SYSMIS" so that it cannot
// be mistaken for a number in a dump.
namespace MCDisplay_850 {

// The text written for the system-missing value.
extern MCREG_API const char* const kMissingText;

// Redirects all printers to *stream; null restores std::cout. The stream is
// not owned and must outlive its use. The pointer is swapped atomically, but
// a stream itself should be written by one thread at a time.
MCREG_API void SetDisplayStream(std::ostream* stream);
MCREG_API std::ostream* GetDisplayStream();

// Shortest round-trip text of x ("SYSMIS" for the missing value, "nan",
// "inf" or "-inf" for the non-finite values).
MCREG_API std::string FormatDouble(double x);

MCREG_API void DisplayText(const std::string& text);
MCREG_API void DisplayB(const std::string& label, bool value);
MCREG_API void DisplayI(const std::string& label, long long value);
MCREG_API void DisplayD(const std::string& label, double value);
// Fixed-point with the given number of decimals (0 to 17; others clamped).
MCREG_API void DisplayDF(const std::string& label, double value, int decimals);
MCREG_API void DisplayS(const std::string& label, const std::string& value);
// Vectors are written as "label = [n] v1 v2 ...", n being the length.
MCREG_API void DisplayIV(const std::string& label, const std::vector<int>& values);
MCREG_API void DisplayDV(const std::string& label, const std::vector<double>& values);

}  // namespace MCDisplay_850
