#pragma once
#include <memory>
#include <string>

#include "host/input/ByteSource.h"

namespace mchost {

// A UTF-16 text read as UTF-8, its byte order mark left out. A lone
// surrogate or a last half character reads as U+FFFD. The size is an
// estimate (the input's for text mostly in ASCII: half its bytes), and the
// name says the encoding: "data.csv (UTF-16)".
class Utf16Source : public ByteSource {
public:
    Utf16Source(std::unique_ptr<ByteSource> input, bool bigEndian);

    std::size_t Read(char* buf, std::size_t n) override;
    bool Rewind() override;
    std::size_t Size() const override { return fpInput->Size() / 2; }
    const std::string& Name() const override { return fName; }

private:
    // Decodes the next block of the input into fOut; false at its end.
    bool Decode();
    void Put(unsigned code);

    std::unique_ptr<ByteSource> fpInput;
    bool fbBigEndian;
    std::string fName;
    std::string fIn;  // input bytes not yet decoded (half a unit or pair)
    std::string fOut;
    std::size_t fOutPos = 0;
    bool fbStarted = false;  // the byte order mark is behind
    bool fbEof = false;
};

}  // namespace mchost
