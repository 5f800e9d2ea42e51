#include "host/input/InputFormat.h"

#include <cstring>

#include "host/base/HostError.h"

namespace mchost {

namespace {

struct Signature {
    const char* fMagic;
    std::size_t fLength;
    const char* fWhat;    // "a bzip2-compressed file"
    const char* fRemedy;  // what to do instead
};

// Formats whose decompressor a user has at hand: said with the pipe that
// feeds the program the text.
const Signature kSignatures[] = {
    {"BZh", 3, "a bzip2-compressed file",
     "decompress it first, or pipe it: bzip2 -dc FILE | "
     "mcreg ... --data -"},
    {"\xFD"
     "7zXZ\x00",
     6, "an xz-compressed file",
     "decompress it first, or pipe it: xz -dc FILE | mcreg ... --data -"},
    {"\x28\xB5\x2F\xFD", 4, "a zstd-compressed file",
     "decompress it first, or pipe it: zstd -dc FILE | mcreg ... --data -"},
    {"\x04\x22\x4D\x18", 4, "an lz4-compressed file",
     "decompress it first, or pipe it: lz4 -dc FILE | mcreg ... --data -"},
    {"\x1F\x9D", 2, "a compress (.Z) file",
     "decompress it first, or pipe it: gzip -dc FILE | mcreg ... --data -"},
    {"PK\x03\x04", 4, "a zip archive (an .xlsx or .ods workbook is one too)",
     "extract the CSV file from it first, or save the sheet as CSV"},
    {"PK\x05\x06", 4, "an empty zip archive", "extract the CSV file from it first"},
    {"7z\xBC\xAF\x27\x1C", 6, "a 7-Zip archive", "extract the CSV file from it first"},
    {"Rar!\x1A\x07", 6, "a RAR archive", "extract the CSV file from it first"},
    {"\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8, "an Excel (.xls) workbook or another OLE document",
     "save the sheet as CSV first"},
};

bool Starts(const unsigned char* head, std::size_t n, const char* magic, std::size_t length) {
    return n >= length && std::memcmp(head, magic, length) == 0;
}

// A printable ASCII byte, as a header's first characters are.
bool Ascii(unsigned char c) {
    return c == '\t' || (c >= 0x20 && c < 0x7F);
}

}  // namespace

InputFormat SniffInput(const unsigned char* head, std::size_t n, const std::string& name,
                       bool text) {
    if (Starts(head, n, "\x1F\x8B", 2)) return InputFormat::kGzip;
    // A binary record file starts with any bytes: only the signatures too
    // long to occur by chance count there.
    for (const Signature& s : kSignatures)
        if ((text || s.fLength >= 4) && Starts(head, n, s.fMagic, s.fLength))
            throw HostError(HostError::kData, name + " is " + s.fWhat + ": " + s.fRemedy);
    if (!text) return InputFormat::kPlain;
    // UTF-32's marks start like UTF-16's: they are told apart first.
    if (Starts(head, n, "\xFF\xFE\x00\x00", 4) || Starts(head, n, "\x00\x00\xFE\xFF", 4))
        throw HostError(HostError::kData,
                        name + " is in UTF-32: save it as UTF-8 (iconv -f UTF-32 -t UTF-8)");
    if (Starts(head, n, "\xFF\xFE", 2)) return InputFormat::kUtf16LE;
    if (Starts(head, n, "\xFE\xFF", 2)) return InputFormat::kUtf16BE;
    // Without a mark: two ASCII characters, each with a zero byte.
    if (n >= 4 && Ascii(head[0]) && head[1] == 0 && Ascii(head[2]) && head[3] == 0)
        return InputFormat::kUtf16LE;
    if (n >= 4 && head[0] == 0 && Ascii(head[1]) && head[2] == 0 && Ascii(head[3]))
        return InputFormat::kUtf16BE;
    return InputFormat::kPlain;
}

}  // namespace mchost
