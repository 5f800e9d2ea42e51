#include "host/input/CsvScanner.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace mchost {

namespace {

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}
// A tab is a blank unless it is the delimiter.
bool IsBlank(char c, char delimiter) {
    return c == ' ' || (c == '\t' && delimiter != '\t');
}
bool IsLineEnd(char c) {
    return c == '\n' || c == '\r';
}
// A number's first byte: a sign, a digit or its point.
bool MayStartNumber(char c) {
    return IsDigit(c) || c == '-' || c == '+' || c == '.';
}

// One field's text, whether it ends its record, and the line ends its
// quotes hold.
struct Field {
    const char* fS = nullptr;
    std::size_t fN = 0;
    bool fbEndsRecord = false;
    std::size_t fNLineEnds = 0;
};

// The bytes equal to c in [b, e): 16 at a time where the processor allows.
std::size_t CountByte(const char* b, const char* e, char c) {
    std::size_t n = 0;
#if defined(__SSE2__)
    // Byte counters, summed before any can pass 255.
    const __m128i wanted = _mm_set1_epi8(c);
    while (e - b >= 16) {
        __m128i counts = _mm_setzero_si128();
        for (int i = 0; i < 255 && e - b >= 16; ++i, b += 16) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b));
            counts = _mm_sub_epi8(counts, _mm_cmpeq_epi8(v, wanted));
        }
        const __m128i sums = _mm_sad_epu8(counts, _mm_setzero_si128());
        n += static_cast<std::size_t>(_mm_cvtsi128_si32(sums)) +
             static_cast<std::size_t>(_mm_cvtsi128_si32(_mm_unpackhi_epi64(sums, sums)));
    }
#endif
    return n + static_cast<std::size_t>(std::count(b, e, c));
}

std::size_t CountQuotes(const char* b, const char* e) {
    return CountByte(b, e, '"');
}

// The first delimiter, line end or quote in [p, end), 16 bytes at a time
// where the processor allows; end when there is none.
const char* FieldEnd(const char* p, const char* end, char delimiter) {
#if defined(__SSE2__)
    const __m128i comma = _mm_set1_epi8(delimiter), lf = _mm_set1_epi8('\n'),
                  cr = _mm_set1_epi8('\r'), quote = _mm_set1_epi8('"');
    for (; end - p >= 16; p += 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        const __m128i hit =
            _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, comma), _mm_cmpeq_epi8(v, lf)),
                         _mm_or_si128(_mm_cmpeq_epi8(v, cr), _mm_cmpeq_epi8(v, quote)));
        const int mask = _mm_movemask_epi8(hit);
        if (mask != 0) return p + __builtin_ctz(static_cast<unsigned>(mask));
    }
#endif
    while (p != end && *p != delimiter && *p != '"' && !IsLineEnd(*p)) ++p;
    return p;
}

// The first quote in [p, end), or null: 16 bytes at a time where the
// processor allows, inline, since quoted texts are mostly a few bytes.
inline const char* FindQuote(const char* p, const char* end) {
#if defined(__SSE2__)
    const __m128i quote = _mm_set1_epi8('"');
    for (; end - p >= 16; p += 16) {
        const int mask = _mm_movemask_epi8(
            _mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)), quote));
        if (mask != 0) return p + __builtin_ctz(static_cast<unsigned>(mask));
    }
#endif
    return static_cast<const char*>(std::memchr(p, '"', static_cast<std::size_t>(end - p)));
}

#if defined(__SSE2__)
// Bit i set when byte i of the 16 in v is c.
inline std::uint32_t Bytes16(__m128i v, char c) {
    return static_cast<std::uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, _mm_set1_epi8(c))));
}
#endif

// The common category cell, a quoted text of at most 14 bytes with its
// delimiter or line end right after the closing quote: one load tells
// where the field ends and what ends it. False (p unmoved) for any other
// field, which the general path then reads.
inline __attribute__((always_inline)) bool ShortQuotedField(const char*& p, const char* end,
                                                            char delim, Field& f) {
#if defined(__SSE2__)
    // The 16 bytes after the opening quote. A blank delimiter is a blank
    // around a quoted field too, a quote one a doubled quote: neither comes
    // this way.
    if (end - p < 18 || *p != '"' || delim == ' ' || delim == '"') return false;
    const __m128i text = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 1));
    const std::uint32_t quotes = Bytes16(text, '"');
    const std::uint32_t crs = Bytes16(text, '\r'), breaks = crs | Bytes16(text, '\n');
    // The closing quote, the bytes before it, and the byte after it, which
    // must be the delimiter or a line end; a quoted line break, which must
    // be counted, goes the long way too.
    const std::uint32_t upToQuote = quotes ^ (quotes - 1);
    const std::uint32_t after = (upToQuote + 1) & 0xFFFF;
    const std::uint32_t delimiters = Bytes16(text, delim);
    if ((breaks & upToQuote) != 0 || ((delimiters | breaks) & after) == 0) return false;
    const auto n = static_cast<std::size_t>(__builtin_ctz(quotes));
    f.fS = p + 1;
    f.fN = n;
    f.fbEndsRecord = (delimiters & after) == 0;
    f.fNLineEnds = 0;
    p += n + 3;
    if ((crs & after) != 0 && p != end && *p == '\n') ++p;
    return true;
#else
    (void)p, (void)end, (void)delim, (void)f;
    return false;
#endif
}

// Reads the field at p and moves p past its delimiter (the delimiter, a
// line end or the end of the input). A quoted field with doubled quotes is
// unescaped into scratch. False on malformed quoting, p at the fault.
inline __attribute__((always_inline)) bool NextField(const char*& p, const char* end, char delim,
                                                     std::string& scratch, Field& f) {
    if (ShortQuotedField(p, end, delim, f)) return true;
    const char* q = p;
    while (q != end && IsBlank(*q, delim)) ++q;
    if (q != end && *q == '"') {
        const char* s = ++q;
        bool escaped = false;
        for (;;) {
            q = FindQuote(q, end);
            if (q == nullptr) {
                p = end;
                return false;
            }
            if (q + 1 != end && q[1] == '"') {
                escaped = true;
                q += 2;
                continue;
            }
            break;
        }
        if (escaped) {
            scratch.clear();
            for (const char* c = s; c < q; ++c) {
                scratch.push_back(*c);
                if (*c == '"') ++c;
            }
            f.fS = scratch.data();
            f.fN = scratch.size();
        } else {
            f.fS = s;
            f.fN = static_cast<std::size_t>(q - s);
        }
        f.fNLineEnds = CsvScanner::CountLineEnds(s, q);
        ++q;
        while (q != end && IsBlank(*q, delim)) ++q;
        if (q != end && *q != delim && !IsLineEnd(*q)) {
            p = q;
            return false;
        }
    } else {
        const char* s = p;
        q = FieldEnd(q, end, delim);
        if (q != end && *q == '"') {
            p = q;
            return false;
        }
        while (s != q && IsBlank(*s, delim)) ++s;
        const char* e = q;
        while (e != s && IsBlank(e[-1], delim)) --e;
        f.fS = s;
        f.fN = static_cast<std::size_t>(e - s);
        f.fNLineEnds = 0;
    }
    // q is at the delimiter.
    f.fbEndsRecord = q == end || *q != delim;
    if (q == end) {
        p = end;
    } else if (*q == '\r') {
        p = q + 1;
        if (p != end && *p == '\n') ++p;
    } else {
        p = q + 1;
    }
    return true;
}

void SkipBlankLines(const char*& p, const char* end) {
    while (p != end && IsLineEnd(*p)) ++p;
}

}  // namespace

namespace {

// Exact powers of ten as doubles.
constexpr double kPow10[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                             1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

constexpr std::uint64_t kPow10Int[] = {1,      10,      100,      1000,     10000,
                                       100000, 1000000, 10000000, 100000000};

// The leading digits of the eight bytes in w (the first byte lowest): how
// many they are, and their value. A byte is a digit when its high half is
// 3 and adding 6 leaves it so; a carry out of a byte that is no digit only
// spoils the bytes after it, which do not count.
int LeadingDigits(std::uint64_t w, std::uint64_t& value) {
    const std::uint64_t notDigit =
        ((w & 0xF0F0F0F0F0F0F0F0ull) ^ 0x3030303030303030ull) |
        (((w + 0x0606060606060606ull) & 0xF0F0F0F0F0F0F0F0ull) ^ 0x3030303030303030ull);
    const int k = notDigit == 0 ? 8 : __builtin_ctzll(notDigit) >> 3;
    if (k == 0) return 0;
    // The k digits moved to the top, zeros before them; three
    // multiplications combine them in pairs, fours and eights.
    w = (w - 0x3030303030303030ull) << (8 * (8 - k));
    w = w * 10 + (w >> 8);
    value = (((w & 0x000000FF000000FFull) * (100 + (1000000ull << 32))) +
             (((w >> 16) & 0x000000FF000000FFull) * (1 + (10000ull << 32)))) >>
            32;
    return k;
}

// Digits from p on, added to digits; p moves past them. Eight bytes are
// read at a time, from p or, near the end, ending at end, as long as they
// lie within [s, end).
inline void Digits(const char*& p, const char* s, const char* end, std::uint64_t& digits) {
#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    while (p != end) {
        const auto left = static_cast<std::size_t>(end - p);
        std::uint64_t w;
        if (left >= 8) {
            std::memcpy(&w, p, 8);
        } else if (end - s >= 8) {
            std::memcpy(&w, end - 8, 8);
            w >>= 8 * (8 - left);  // the bytes before p out, zeros (no digits) after end
        } else {
            break;
        }
        std::uint64_t value = 0;
        const int k = LeadingDigits(w, value);
        digits = digits * kPow10Int[k] + value;
        p += k;
        if (k < 8) return;
    }
#else
    (void)s;
#endif
    for (; p != end && IsDigit(*p); ++p) digits = digits * 10 + static_cast<unsigned>(*p - '0');
}

// The common plain decimal, "-12.345" without an exponent whose digits make
// an integer below 2^53: its digits and its power of ten are exact doubles,
// so one division rounds correctly. False for anything else.
inline __attribute__((always_inline)) bool ParsePlainDecimal(const char* s, const char* end,
                                                             double& v) {
    const char* p = s;
    const bool negative = *p == '-';
    if (negative || *p == '+') ++p;
    std::uint64_t digits = 0;
    const char* start = p;
    Digits(p, s, end, digits);
    std::ptrdiff_t nDigits = p - start, nFraction = 0;
    if (p != end && *p == '.') {
        const char* fraction = ++p;
        Digits(p, s, end, digits);
        nFraction = p - fraction;
        nDigits += nFraction;
    }
    // Up to 19 digits cannot overflow the integer.
    if (p != end || nDigits == 0 || nDigits > 19 || nFraction > 22 ||
        digits > (std::uint64_t(1) << 53))
        return false;
    const double x = static_cast<double>(digits) / kPow10[nFraction];
    v = negative ? -x + 0.0 : x;  // -0 and 0 are one category
    return true;
}

constexpr std::uint64_t kPow10Long[] = {1,
                                        10,
                                        100,
                                        1000,
                                        10000,
                                        100000,
                                        1000000,
                                        10000000,
                                        100000000,
                                        1000000000,
                                        10000000000,
                                        100000000000,
                                        1000000000000,
                                        10000000000000,
                                        100000000000000,
                                        1000000000000000,
                                        10000000000000000,
                                        100000000000000000,
                                        1000000000000000000,
                                        10000000000000000000u};

#if defined(__SSE2__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
// The value of the k digits at s (1 <= k <= 8), eight bytes being readable
// there: as LeadingDigits, with k known.
inline std::uint64_t DigitsValue(const char* s, int k) {
    std::uint64_t w;
    std::memcpy(&w, s, 8);
    w = (w - 0x3030303030303030ull) << (8 * (8 - k));
    w = w * 10 + (w >> 8);
    return (((w & 0x000000FF000000FFull) * (100 + (1000000ull << 32))) +
            (((w >> 16) & 0x000000FF000000FFull) * (1 + (10000ull << 32)))) >>
           32;
}

// The value of the n <= 19 digits at s, 24 bytes being readable there.
inline std::uint64_t RunValue(const char* s, int n) {
    if (n == 0) return 0;
    if (n <= 8) return DigitsValue(s, n);
    const std::uint64_t high = DigitsValue(s, 8);
    if (n <= 16) return high * kPow10Long[n - 8] + DigitsValue(s + 8, n - 8);
    return (high * 100000000 + DigitsValue(s + 8, 8)) * kPow10Long[n - 16] +
           DigitsValue(s + 16, n - 16);
}

// Byte i is 0xFF for i >= 16: the sixteen bytes from kLastBytes + k have
// their last k bytes set.
alignas(16) constexpr unsigned char kLastBytes[32] = {
    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,
    0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};

inline __m128i LastBytes(int k) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(kLastBytes + k));
}

// The value of a plain decimal's digits, its point left out: the same as
// RunValue of its integer digits times a power of ten plus that of its
// fraction's, for at most 16 digits that end at q, the 17 bytes before q
// being readable. The 16 bytes that end at the last digit hold the
// fraction; where there is a point, the integer digits are taken from the
// 16 bytes one earlier, which close the gap the point leaves. The bytes
// before the first digit are zeroed, and pairs, fours and eights of
// digits are joined by three multiply-adds of 16-bit lanes.
inline std::uint64_t WindowValue(const char* q, int nInteger, int nFraction, bool point) {
    const __m128i fraction = _mm_loadu_si128(reinterpret_cast<const __m128i*>(q - 16));
    const __m128i integer = _mm_loadu_si128(reinterpret_cast<const __m128i*>(q - 16 - point));
    const __m128i fractionBytes = LastBytes(nFraction);
    const __m128i window = _mm_or_si128(_mm_and_si128(fractionBytes, fraction),
                                        _mm_andnot_si128(fractionBytes, integer));
    const __m128i digits =
        _mm_and_si128(_mm_sub_epi8(window, _mm_set1_epi8('0')), LastBytes(nInteger + nFraction));
    const __m128i zero = _mm_setzero_si128();
    // Each 32-bit lane as two 16-bit ones: the first digit (or pair, or
    // four) times the factor, the second times one.
    const __m128i tens = _mm_set1_epi32((1 << 16) | 10);
    const __m128i pairs = _mm_packs_epi32(_mm_madd_epi16(_mm_unpacklo_epi8(digits, zero), tens),
                                          _mm_madd_epi16(_mm_unpackhi_epi8(digits, zero), tens));
    const __m128i fours = _mm_madd_epi16(pairs, _mm_set1_epi32((1 << 16) | 100));
    const __m128i eights =
        _mm_madd_epi16(_mm_packs_epi32(fours, fours), _mm_set1_epi32((1 << 16) | 10000));
    const auto high = static_cast<std::uint32_t>(_mm_cvtsi128_si32(eights));
    const auto low = static_cast<std::uint32_t>(_mm_cvtsi128_si32(_mm_srli_si128(eights, 4)));
    return std::uint64_t(high) * 100000000 + low;
}

// Bit i set when byte i of the 32 at s is no digit.
inline std::uint32_t NonDigits(const char* s) {
    const __m128i zero = _mm_set1_epi8('0'), nine = _mm_set1_epi8(9);
    const auto digits = [&](const char* at) {
        const __m128i d = _mm_sub_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(at)), zero);
        return static_cast<std::uint32_t>(
            _mm_movemask_epi8(_mm_cmpeq_epi8(_mm_min_epu8(d, nine), d)));
    };
    return ~(digits(s) | (digits(s + 16) << 16));
}
#endif

// A plain decimal field read where it stands: where its digits and point
// end is found for 32 bytes at once, so that the next field's place is
// known before the digits' value is, and the value is the one
// ParsePlainDecimal gives the field. False (p unmoved) for any other field,
// which NextField then reads, and within the last bytes of the input. On
// success p moves past the delimiter or line end as NextField moves it.
// begin: where the run starts, the first byte that may be read.
inline __attribute__((always_inline)) bool PlainNumberField(const char*& p, const char* begin,
                                                            const char* end, char delimiter,
                                                            int maxDigits, double& v,
                                                            bool& endsRecord) {
#if defined(__SSE2__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    // The 32 bytes of the window and the 24 a value may read after the
    // last digit in it. A quoted cell, as a category's text mostly is, is
    // told at its first byte.
    if (end - p < 64 || *p == '"') return false;
    const bool negative = *p == '-';
    const char* const s = p + negative;
    const std::uint32_t nonDigits = NonDigits(s);
    if (nonDigits == 0) return false;
    const int nInteger = __builtin_ctz(nonDigits);
    const char* q = s + nInteger;
    int nFraction = 0;
    const bool point = *q == '.';
    if (point) {
        if (nInteger >= 31) return false;
        const std::uint32_t rest = nonDigits >> (nInteger + 1);
        if (rest == 0) return false;
        nFraction = __builtin_ctz(rest);
        q += 1 + nFraction;
    }
    const char c = *q;
    const int nDigits = nInteger + nFraction;
    // Up to 19 digits fit the integer, and their point leaves a power of
    // ten that is an exact double.
    if ((c != delimiter && !IsLineEnd(c)) || nDigits == 0 || nDigits > maxDigits) return false;
    const std::uint64_t digits =
        nDigits <= 16 && q - begin > 16
            ? WindowValue(q, nInteger, nFraction, point)
            : RunValue(s, nInteger) * kPow10Long[nFraction] + RunValue(s + nInteger + 1, nFraction);
    if (digits > (std::uint64_t(1) << 53)) return false;
    const double x = static_cast<double>(digits) / kPow10[nFraction];
    v = negative ? -x + 0.0 : x;
    endsRecord = c != delimiter;
    p = q + 1;
    if (c == '\r' && p != end && *p == '\n') ++p;
    return true;
#else
    (void)p, (void)end, (void)delimiter, (void)maxDigits, (void)v, (void)endsRecord;
    return false;
#endif
}

// Any other number: an exponent, more digits, a plus sign.
bool ParseOtherNumber(const char* s, std::size_t n, double& v) {
    const char* p = s;
    const char* const end = s + n;
    if (p == end) return false;
    // from_chars takes neither a plus sign nor leading blanks, but it does
    // take "inf" and "nan", which are not numbers for a data column.
    if (*p == '+') ++p;
    const char* m = (p != end && *p == '-' && p == s) ? p + 1 : p;
    if (m == end || !(IsDigit(*m) || *m == '.')) return false;
    double x = 0.0;
    const auto res = std::from_chars(p, end, x, std::chars_format::general);
    if (res.ptr != end) return false;
    if (res.ec == std::errc::result_out_of_range) {
        // Underflow reads as (nearly) zero, overflow is no finite number;
        // strtod tells them apart.
        std::string copy(p, end);
        errno = 0;
        x = std::strtod(copy.c_str(), nullptr);
        if (!std::isfinite(x)) return false;
    } else if (res.ec != std::errc()) {
        return false;
    }
    v = x + 0.0;  // -0 and 0 are one category
    return true;
}

// Two decimals of at most this many significant digits are two doubles;
// two of more may be one ("123456789012345671" and "...672").
constexpr int kDistinctDigits = 15;

// The significant digits of a cell that reads as a number: its mantissa's,
// without the zeros before the first other digit and after the last.
int SignificantDigits(const char* s, std::size_t n) {
    int digits = 0, zeros = 0;
    for (const char* p = s; p != s + n && *p != 'e' && *p != 'E'; ++p) {
        if (*p == '0') {
            zeros += digits > 0;
        } else if (IsDigit(*p)) {
            digits += zeros + 1;
            zeros = 0;
        }
    }
    return digits;
}

// Whether the double v read from [s, s + n) tells its category apart from
// every other: at most kDistinctDigits significant digits, and a value
// that underflows neither to 0 ("1e-400" would join "0") nor to a
// subnormal, which keeps fewer digits.
bool KeepsCategoryDigits(const char* s, std::size_t n, double v) {
    const int digits = SignificantDigits(s, n);
    return digits <= kDistinctDigits &&
           (digits == 0 || std::fabs(v) >= std::numeric_limits<double>::min());
}

}  // namespace

bool CsvScanner::ParseNumber(const char* s, std::size_t n, double& v) {
    return n != 0 && (ParsePlainDecimal(s, s + n, v) || ParseOtherNumber(s, n, v));
}

bool CsvScanner::ParseCategoryNumber(const char* s, std::size_t n, double& v) {
    return ParseNumber(s, n, v) && KeepsCategoryDigits(s, n, v);
}

inline __attribute__((always_inline)) CsvScanner::Cell CsvScanner::Classify(const char* s,
                                                                            std::size_t n,
                                                                            const ColumnPlan& plan,
                                                                            double& v) const {
    if (n == 0 || IsNa(s, n)) return Cell::kMissing;
    if (!plan.fbText) {
        // Category texts mostly start with a letter, which no number does.
        if (!MayStartNumber(s[0]) ||
            (!ParsePlainDecimal(s, s + n, v) && !ParseOtherNumber(s, n, v)))
            return Cell::kText;
        if (IsNaNumber(v)) return Cell::kMissing;
        // Categories are told apart by value: one whose digits a double
        // does not keep (an identifier of 18 digits) would merge with its
        // neighbours, so its column is read as text.
        return plan.fbCategorical && !KeepsCategoryDigits(s, n, v) ? Cell::kText : Cell::kNumber;
    }
    // Read as text, a cell is still missing by its value, as it was when
    // the column was read for numbers.
    if (!fvNaNumbers.empty() && ParseNumber(s, n, v) && IsNaNumber(v)) return Cell::kMissing;
    return Cell::kText;
}

CsvScanner::CsvScanner(const std::vector<ColumnPlan>& plan, char delimiter,
                       std::vector<std::string> naValues)
    : fPlan(plan), fDelimiter(delimiter) {
    // A delimiter that a plain decimal may hold would end its field
    // elsewhere than its digits do; a blank is trimmed around a field.
    const bool plain = !(IsDigit(delimiter) || delimiter == '.' || delimiter == '-' ||
                         delimiter == '"' || delimiter == ' ' || IsLineEnd(delimiter));
    if (plain)
        for (const ColumnPlan& c : plan)
            fvPlainDigits.push_back(!c.fbLoad || c.fbText ? 0
                                    : c.fbCategorical     ? kDistinctDigits
                                                          : 19);
    for (std::string& na : naValues) {
        // "NA, ., -999" names three markers.
        const std::size_t from = na.find_first_not_of(" \t");
        na = from == std::string::npos ? std::string()
                                       : na.substr(from, na.find_last_not_of(" \t") - from + 1);
        if (na.empty()) continue;  // the empty cell is missing anyway
        double v;
        if (ParseNumber(na.data(), na.size(), v)) fvNaNumbers.push_back(v);
        fvNaValues.push_back(na);
        fNaLengths |= std::uint64_t(1) << std::min<std::size_t>(na.size(), 63);
        const auto first = static_cast<unsigned char>(na[0]);
        fNaFirstBytes[first >> 6] |= std::uint64_t(1) << (first & 63);
    }
}

bool CsvScanner::IsNaText(const char* s, std::size_t n) const {
    for (const std::string& na : fvNaValues)
        if (na.size() == n && std::memcmp(na.data(), s, n) == 0) return true;
    return false;
}

bool CsvScanner::ScanHeader(const char*& p, const char* end, std::vector<std::string>& names,
                            char delimiter) {
    names.clear();
    SkipBlankLines(p, end);
    if (p == end) return true;
    std::string scratch;
    Field f;
    do {
        if (!NextField(p, end, delimiter, scratch, f)) return false;
        names.emplace_back(f.fS, f.fN);
    } while (!f.fbEndsRecord);
    return true;
}

void CsvScanner::Scan(const char* p, const char* end, CellChunk& chunk, const char* limit) {
    const char* const begin = p;
    // A CR that ends the run is no line end of its own when an LF follows.
    const bool lfAfterEnd = limit != nullptr && end < limit && *end == '\n';
    std::size_t nLoaded = 0;
    for (const ColumnPlan& c : fPlan) nLoaded += c.fbLoad;
    const std::size_t nHeader = fPlan.size();
    // A record takes a byte per field at least (a delimiter or its line
    // end), the last perhaps one less; one that turns out malformed is
    // given room too.
    chunk.Reset(nLoaded,
                static_cast<std::size_t>(end - p + 1) / std::max<std::size_t>(nHeader, 1) + 1);
    const double nan = std::numeric_limits<double>::quiet_NaN();
    Field f;
    std::size_t lineEnds = 0;
    for (;;) {
        if (p != end && IsLineEnd(*p)) {
            const char* const blank = p;
            SkipBlankLines(p, end);
            lineEnds += CountLineEnds(blank, p, limit);
        }
        if (p == end) break;
        const char* const recordStart = p;
        double* rec = chunk.NextRecord();
        std::size_t col = 0, loaded = 0;
        do {
            double v;
            if (col < fvPlainDigits.size() && fvPlainDigits[col] != 0 &&
                PlainNumberField(p, begin, end, fDelimiter, fvPlainDigits[col], v,
                                 f.fbEndsRecord)) {
                // A number cell is missing only by its value: a marker
                // whose text it is is a number of that value.
                ChunkColumn& c = chunk.fvColumns[loaded];
                if (IsNaNumber(v)) {
                    rec[loaded] = nan;
                } else {
                    ++c.fNNumbers;
                    rec[loaded] = fPlan[col].fbCategorical ? c.fNumbers.Intern(v) : v;
                }
                ++loaded;
                ++col;
                continue;
            }
            if (!NextField(p, end, fDelimiter, fScratch, f)) {
                chunk.fError.fKind = p == end ? ScanError::kOpenQuote : ScanError::kQuoting;
                chunk.fError.fRecord = chunk.fNRecords;
                chunk.fError.fRecordByte = static_cast<std::size_t>(recordStart - begin);
                chunk.fError.fByte = static_cast<std::size_t>(p - begin);
                ForgetPartial(recordStart, end, chunk);
                return;
            }
            lineEnds += f.fNLineEnds;
            if (col < nHeader && fPlan[col].fbLoad) {
                const ColumnPlan& plan = fPlan[col];
                ChunkColumn& c = chunk.fvColumns[loaded];
                const Cell kind = Classify(f.fS, f.fN, plan, v);
                if (kind == Cell::kMissing) {
                    rec[loaded] = nan;
                } else if (kind == Cell::kNumber) {
                    ++c.fNNumbers;
                    rec[loaded] = plan.fbCategorical ? c.fNumbers.Intern(v) : v;
                } else {
                    if (!c.fbHasWord &&
                        !(plan.fbText && (plan.fbCategorical ? ParseCategoryNumber(f.fS, f.fN, v)
                                                             : ParseNumber(f.fS, f.fN, v)))) {
                        c.fbHasWord = true;
                        c.fFirstWordRecord = chunk.fNRecords;
                        c.fFirstWordByte = static_cast<std::size_t>(recordStart - begin);
                    }
                    ++c.fNTexts;
                    rec[loaded] = c.fTexts.Intern(f.fS, f.fN);
                }
                ++loaded;
            }
            ++col;
        } while (!f.fbEndsRecord);
        if (col != nHeader) {
            chunk.fError.fKind = ScanError::kFieldCount;
            chunk.fError.fRecord = chunk.fNRecords;
            chunk.fError.fRecordByte = static_cast<std::size_t>(recordStart - begin);
            chunk.fError.fByte = static_cast<std::size_t>(p - begin);
            chunk.fError.fNFields = col;
            ForgetPartial(recordStart, end, chunk);
            return;
        }
        ++chunk.fNRecords;
        // The record's line end, unless the input ends without one; an
        // unquoted field holds no line break, a quoted one ends in a quote.
        lineEnds += IsLineEnd(p[-1]) && !(p[-1] == '\r' && p == end && lfAfterEnd);
    }
    chunk.fNLineEnds = lineEnds;
}

std::size_t CsvScanner::CountLineEnds(const char* b, const char* e, const char* limit) {
    std::size_t n = CountByte(b, e, '\n');
    // A CR ends a line of its own unless an LF follows it.
    for (const char* r = b;; ++r) {
        r = static_cast<const char*>(std::memchr(r, '\r', static_cast<std::size_t>(e - r)));
        if (r == nullptr) break;
        if (r + 1 == e ? !(limit != nullptr && e < limit && *e == '\n') : r[1] != '\n') ++n;
    }
    return n;
}

void CsvScanner::ForgetPartial(const char* p, const char* end, CellChunk& chunk) {
    const std::size_t nHeader = fPlan.size();
    std::size_t col = 0, loaded = 0;
    Field f;
    while (col < nHeader && NextField(p, end, fDelimiter, fScratch, f)) {
        if (fPlan[col].fbLoad) {
            ChunkColumn& c = chunk.fvColumns[loaded++];
            double v;
            const Cell kind = Classify(f.fS, f.fN, fPlan[col], v);
            if (kind == Cell::kNumber)
                --c.fNNumbers;
            else if (kind == Cell::kText)
                --c.fNTexts;
            if (c.fbHasWord && c.fFirstWordRecord == chunk.fNRecords) c.fbHasWord = false;
        }
        ++col;
        if (f.fbEndsRecord) break;
    }
}

const char* CsvScanner::LastRecordEnd(const char* b, const char* e) {
    // odd: the parity of the quotes in [b, p).
    bool odd = (CountQuotes(b, e) & 1) != 0;
    for (const char* p = e; p != b;) {
        --p;
        if (*p == '"')
            odd = !odd;
        else if (IsLineEnd(*p) && !odd)
            return p + 1;
    }
    return b;
}

const char* CsvScanner::NextRecordStart(const char* b, const char* mid, const char* e) {
    bool odd = (CountQuotes(b, mid) & 1) != 0;
    for (const char* p = mid; p != e; ++p) {
        if (*p == '"')
            odd = !odd;
        else if (IsLineEnd(*p) && !odd)
            return p + 1;
    }
    return e;
}

}  // namespace mchost
