#include "host/report/OutputFile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <streambuf>
#include <vector>

#include "host/base/HostError.h"

namespace mchost {

namespace {

[[noreturn]] void CannotWrite(const std::string& name, int error) {
    throw HostError(HostError::kUsage,
                    "cannot write '" + name + "'" +
                        (error != 0 ? ": " + std::string(std::strerror(error)) : std::string()));
}

// The rename itself is kept across a crash once its folder is synced. The
// document is whole either way; a folder that cannot be synced is left.
void SyncFolder(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

void StopIfInterrupted(const std::atomic<bool>* interrupt) {
    if (interrupt != nullptr && interrupt->load())
        throw HostError(HostError::kInterrupted, "interrupted");
}

// The temporary files of the files not yet committed, for a signal handler
// to remove: it may neither lock nor allocate.
constexpr int kSlots = 16;
std::atomic<const char*> gUnfinished[kSlots];
static_assert(std::atomic<const char*>::is_always_lock_free, "read in a signal handler");

int Register(const char* path) {
    for (int i = 0; i < kSlots; ++i) {
        const char* none = nullptr;
        if (gUnfinished[i].compare_exchange_strong(none, path)) return i;
    }
    return -1;
}

// Whether the unfinished files are being committed, or were abandoned.
enum CommitState : int { kOpen, kCommitting, kAbandoned };
std::atomic<int> gCommitState{kOpen};
static_assert(std::atomic<int>::is_always_lock_free, "changed in a signal handler");

void Unregister(int slot) {
    if (slot >= 0) gUnfinished[slot].store(nullptr);
}

// Writes all of [p, p + n) to fd: 0, or the error.
// A pipe whose reader is slow blocks the write: a signal that asks to stop
// ends it, whether the write it cut short wrote nothing (EINTR) or part.
int WriteAll(int fd, const char* p, std::size_t n, const std::atomic<bool>* interrupt) {
    while (n > 0) {
        StopIfInterrupted(interrupt);
        const ssize_t w = ::write(fd, p, n);
        if (w < 0) {
            if (errno != EINTR) return errno;
            continue;
        }
        p += w;
        n -= static_cast<std::size_t>(w);
    }
    return 0;
}

// Whether path names the file open as fd.
bool NamesFile(const std::string& path, int fd) {
    struct stat named {};
    struct stat opened {};
    return ::lstat(path.c_str(), &named) == 0 && ::fstat(fd, &opened) == 0 &&
           named.st_dev == opened.st_dev && named.st_ino == opened.st_ino;
}

// A temporary file belongs to the run that holds its lock. One that no run
// holds was left by a run that was killed, and goes; one that a run holds
// is that run's output in progress, which another run writing the same file
// at the same time must neither remove nor put in place as its own.
enum class PartState { kGone, kInUse, kStuck };

PartState RemoveAbandoned(const std::string& part) {
    // Non-blocking, for a pipe of that name.
    int fd = ::open(part.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0 && errno == EACCES)
        fd = ::open(part.c_str(), O_WRONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0) {
        if (errno == ENOENT) return PartState::kGone;
        // One that cannot be opened (a link) cannot be locked by a run.
        return ::unlink(part.c_str()) == 0 || errno == ENOENT ? PartState::kGone
                                                              : PartState::kStuck;
    }
    // On a file system without locks (an error other than EWOULDBLOCK) no
    // run can hold it, and it goes.
    const bool held = ::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    PartState state = held ? PartState::kInUse : PartState::kGone;
    if (!held && NamesFile(part, fd) && ::unlink(part.c_str()) != 0) state = PartState::kStuck;
    ::close(fd);
    return state;
}

}  // namespace

// A stream buffer over a file descriptor that keeps the first write error,
// where an ofstream would lose errno.
class OutputFile::Buffer : public std::streambuf {
public:
    Buffer() : fvData(std::size_t(1) << 16) { Reset(); }
    void SetFd(int fd) { fFd = fd; }

    // False, the error kept, when the content could not be written.
    bool Drain() {
        if (fError != 0) return false;
        fError = WriteAll(fFd, pbase(), static_cast<std::size_t>(pptr() - pbase()), nullptr);
        Reset();
        return fError == 0;
    }
    int GetError() const { return fError; }

protected:
    int_type overflow(int_type c) override {
        if (!Drain()) return traits_type::eof();
        if (!traits_type::eq_int_type(c, traits_type::eof())) {
            *pptr() = traits_type::to_char_type(c);
            pbump(1);
        }
        return traits_type::not_eof(c);
    }
    int sync() override { return Drain() ? 0 : -1; }

private:
    void Reset() { setp(fvData.data(), fvData.data() + fvData.size()); }

    int fFd = -1;
    std::vector<char> fvData;
    int fError = 0;
};

OutputFile::OutputFile(const OutputTarget& target, const std::string& tempDir,
                       const std::atomic<bool>* interrupt)
    : fTarget(target),
      fpInterrupt(interrupt),
      fpBuffer(std::make_unique<Buffer>()),
      fpStream(std::make_unique<std::ostream>(fpBuffer.get())) {
    // Nothing below may fail once a file exists, as no destructor would
    // remove it.
    if (fTarget.fbDirect) {
        if (fTarget.IsStandardOutput()) {
            fTargetFd = STDOUT_FILENO;
        } else {
            // A pipe's open waits for a reader.
            while (fTargetFd < 0) {
                StopIfInterrupted(fpInterrupt);
                fTargetFd = ::open(fTarget.fPath.c_str(), O_WRONLY | O_CLOEXEC);
                if (fTargetFd < 0 && errno != EINTR) CannotWrite(fTarget.fName, errno);
            }
        }
        std::string spool = tempDir + "/mcreg-output-XXXXXX";
        fFd = ::mkstemp(spool.data());
        if (fFd < 0) {
            const int error = errno;
            if (fTargetFd != STDOUT_FILENO) ::close(fTargetFd);
            throw HostError(HostError::kUsage, "cannot keep the content of '" + fTarget.fName +
                                                   "' in '" + tempDir +
                                                   "': " + std::strerror(error) +
                                                   " (set TMPDIR to a writable folder)");
        }
        ::unlink(spool.c_str());
    } else {
        const mode_t mode = fTarget.fMode != 0 ? (fTarget.fMode & 0777) : 0666;
        fFd = OpenPart(mode);
        // The file replaced keeps its permissions, which the umask would
        // otherwise narrow.
        if (fTarget.fMode != 0) ::fchmod(fFd, mode);
    }
    fpBuffer->SetFd(fFd);
}

int OutputFile::OpenPart(mode_t mode) {
    const std::string& part = fTarget.fPart;
    const auto refuse = [&](const std::string& why) {
        throw HostError(HostError::kUsage, "cannot write '" + fTarget.fName +
                                               "': its temporary file '" + part + "' " + why);
    };
    // A few rounds, for runs that start on the same file at once.
    for (int round = 0; round < 8; ++round) {
        // One that is there was checked to be no input and no other output.
        const PartState state = RemoveAbandoned(part);
        if (state == PartState::kInUse) refuse("is being written by another run of the program");
        if (state == PartState::kStuck) refuse("cannot be replaced");
        fSlot = Register(part.c_str());
        const int fd = ::open(part.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
        if (fd < 0) {
            const int error = errno;
            Unregister(fSlot);
            fSlot = -1;
            if (error == EEXIST) continue;
            CannotWrite(fTarget.fName, error);
        }
        // Another run may have taken it for abandoned before the lock: it
        // is then no longer this name's, and is left to that run. A file
        // system without locks is written unlocked.
        const bool locked = ::flock(fd, LOCK_EX | LOCK_NB) == 0 || errno != EWOULDBLOCK;
        if (locked && NamesFile(part, fd)) {
            // The lock lasts while this descriptor is open, past Finish.
            fLockFd = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
            if (fLockFd >= 0) return fd;
            ::unlink(part.c_str());
        }
        ::close(fd);
        Unregister(fSlot);
        fSlot = -1;
    }
    refuse("cannot be replaced");
    return -1;
}

OutputFile::~OutputFile() {
    fpStream.reset();
    if (fFd >= 0) ::close(fFd);
    // Only while the name is still this run's file.
    if (!fbCommitted && fLockFd >= 0 && NamesFile(fTarget.fPart, fLockFd))
        ::unlink(fTarget.fPart.c_str());
    if (fLockFd >= 0) ::close(fLockFd);
    Unregister(fSlot);
    if (fTargetFd >= 0 && fTargetFd != STDOUT_FILENO) ::close(fTargetFd);
}

std::ostream& OutputFile::Stream() {
    return *fpStream;
}

void OutputFile::Finish() {
    fpStream->flush();
    if (!fpBuffer->Drain() || !*fpStream) CannotWrite(fTarget.fName, fpBuffer->GetError());
    if (fTarget.fbDirect) return;
    const int fd = fFd;
    fFd = -1;
    // On disk before the rename: a crash after it must find the whole
    // document under the name, not an empty file the rename reached first.
    // A file system that cannot sync (EINVAL) keeps nothing across a crash.
    if (::fsync(fd) != 0 && errno != EINVAL) {
        const int error = errno;
        ::close(fd);
        CannotWrite(fTarget.fName, error);
    }
    if (::close(fd) != 0) CannotWrite(fTarget.fName, errno);
}

void OutputFile::Commit() {
    if (fbCommitted) return;
    if (fTarget.fbDirect) {
        Copy();
    } else {
        // What is put in place is this run's document or nothing.
        if (!NamesFile(fTarget.fPart, fLockFd))
            throw HostError(HostError::kUsage, "cannot write '" + fTarget.fName +
                                                   "': its temporary file '" + fTarget.fPart +
                                                   "' was removed or replaced while written");
        if (::rename(fTarget.fPart.c_str(), fTarget.fPath.c_str()) != 0)
            CannotWrite(fTarget.fName, errno);
        SyncFolder(fTarget.fPath);
    }
    fbCommitted = true;
    Unregister(fSlot);
    fSlot = -1;
}

void OutputFile::Copy() {
    if (::lseek(fFd, 0, SEEK_SET) != 0) CannotWrite(fTarget.fName, errno);
    std::vector<char> block(std::size_t(1) << 20);
    for (;;) {
        StopIfInterrupted(fpInterrupt);
        const ssize_t got = ::read(fFd, block.data(), block.size());
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) CannotWrite(fTarget.fName, errno);
        if (got == 0) return;
        const int error =
            WriteAll(fTargetFd, block.data(), static_cast<std::size_t>(got), fpInterrupt);
        if (error != 0) CannotWrite(fTarget.fName, error);
    }
}

void OutputFile::RemoveUnfinished() noexcept {
    for (auto& slot : gUnfinished)
        if (const char* part = slot.load()) ::unlink(part);
}

void OutputFile::AbandonUnfinished() noexcept {
    int open = kOpen;
    if (gCommitState.compare_exchange_strong(open, kAbandoned)) RemoveUnfinished();
}

OutputFile::CommitWindow::CommitWindow() {
    if (gCommitState.exchange(kCommitting) != kAbandoned) return;
    // The files of this run are gone; a later run may commit its own.
    gCommitState.store(kOpen);
    throw HostError(HostError::kInterrupted, "interrupted");
}

OutputFile::CommitWindow::~CommitWindow() {
    gCommitState.store(kOpen);
}

}  // namespace mchost
