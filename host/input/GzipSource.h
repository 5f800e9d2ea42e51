#pragma once
#include <memory>
#include <string>

#include "host/input/ByteSource.h"

namespace mchost {

// A gzip-compressed file read decompressed. Its size is the one the gzip
// trailer records (the input modulo 4 GiB, so only an estimate), and its
// name says it is compressed: "data.csv.gz (gzip-compressed)".
class GzipSource : public ByteSource {
public:
    explicit GzipSource(std::unique_ptr<FileSource> file);
    ~GzipSource() override;
    GzipSource(const GzipSource&) = delete;
    GzipSource& operator=(const GzipSource&) = delete;

    std::size_t Read(char* buf, std::size_t n) override;
    bool Rewind() override;
    std::size_t Size() const override { return fSize; }
    const std::string& Name() const override { return fName; }

private:
    std::unique_ptr<FileSource> fpFile;
    std::string fName;
    std::size_t fSize = 0;
    void* fpGz = nullptr;  // gzFile
};

}  // namespace mchost
