#pragma once
#include <cstddef>
#include <string>

namespace mchost {

// What the first bytes of a data file say it is. Compressed files and
// archives carry a signature ("magic number") in their first bytes, and a
// UTF-16 text starts with a byte order mark or, without one, shows a zero
// byte beside each ASCII character of its header.
enum class InputFormat { kPlain, kGzip, kUtf16LE, kUtf16BE };

// The format of an input whose first n bytes are head (n may be short for
// a small file). Throws HostError kData, naming the file, for the formats
// it cannot read (bzip2, xz, zstd, zip, 7-Zip, ...); text: whether a text
// encoding is looked for (a binary record file may start with any bytes).
InputFormat SniffInput(const unsigned char* head, std::size_t n, const std::string& name,
                       bool text);

// The first bytes SniffInput looks at.
constexpr std::size_t kSniffBytes = 8;

}  // namespace mchost
