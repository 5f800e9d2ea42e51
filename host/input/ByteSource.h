#pragma once
#include <atomic>
#include <cstddef>
#include <memory>
#include <string>

namespace mchost {

// The bytes of a data file, read front to back, perhaps more than once.
class ByteSource {
public:
    virtual ~ByteSource() = default;
    // Up to n bytes into buf; 0 at the end. Throws HostError on a failure.
    virtual std::size_t Read(char* buf, std::size_t n) = 0;
    // Back to the first byte; false when the input cannot be read again.
    virtual bool Rewind() = 0;
    // The size in bytes, 0 when unknown (a pipe).
    virtual std::size_t Size() const = 0;
    // For messages.
    virtual const std::string& Name() const = 0;
};

// A file or a pipe, read with large system reads. Once the interrupt flag
// is set, the next read, or one that a signal interrupts, ends with
// HostError kInterrupted.
class FileSource : public ByteSource {
public:
    explicit FileSource(const std::string& path, const std::atomic<bool>* interrupt = nullptr);
    // An open descriptor, which the source then owns.
    FileSource(int fd, std::string name, const std::atomic<bool>* interrupt = nullptr);
    ~FileSource() override;
    FileSource(const FileSource&) = delete;
    FileSource& operator=(const FileSource&) = delete;

    std::size_t Read(char* buf, std::size_t n) override;
    bool Rewind() override;
    std::size_t Size() const override { return fSize; }
    const std::string& Name() const override { return fPath; }
    int GetFd() const { return fFd; }
    bool IsSeekable() const { return fbSeekable; }

private:
    void Stat();

    std::string fPath;
    int fFd = -1;
    std::size_t fSize = 0;
    bool fbSeekable = false;
    const std::atomic<bool>* fpInterrupt;
};

// Opens a data file for reading: "-" is the standard input. The standard
// input and a pipe are copied to an unlinked temporary file in tempDir (a
// pipe cannot be read twice). A gzip-compressed input is read decompressed,
// a UTF-16 text (text: a CSV file) as UTF-8, each named so in messages;
// other compressed files and archives are refused by name (SniffInput).
std::unique_ptr<ByteSource> OpenSource(const std::string& path, const std::string& tempDir,
                                       const std::atomic<bool>* interrupt = nullptr,
                                       bool text = true);

class StringSource : public ByteSource {
public:
    explicit StringSource(std::string text, std::string name = "<text>")
        : fText(std::move(text)), fName(std::move(name)) {}

    std::size_t Read(char* buf, std::size_t n) override;
    bool Rewind() override {
        fPos = 0;
        return true;
    }
    std::size_t Size() const override { return fText.size(); }
    const std::string& Name() const override { return fName; }

private:
    std::string fText;
    std::string fName;
    std::size_t fPos = 0;
};

}  // namespace mchost
