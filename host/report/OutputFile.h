#pragma once
#include <sys/types.h>

#include <atomic>
#include <memory>
#include <ostream>
#include <string>

#include "host/report/OutputTarget.h"

namespace mchost {

// A file the program writes only when its work succeeds, opened at once so
// that a path that cannot be written fails before any work. A file that
// can be replaced is written as its temporary file (OutputTarget::fPart),
// which Commit renames into place; a pipe, a device or the standard output
// is opened at once, its content kept in an unnamed temporary file until
// Commit copies it there. Whatever was not committed is removed, so a
// failed or interrupted run leaves an existing file as it was. A run holds
// a lock on its temporary file: another run writing the same file at the
// same time is refused, rather than taking the first one's temporary file
// away and leaving the first to put the other's, perhaps half written, in
// place.
class OutputFile {
public:
    // Throws HostError (usage) naming the file when it cannot be written.
    // interrupt, when given, is polled while opening a pipe (which waits
    // for its reader) and while copying into one: once it is set, either
    // ends with HostError (interrupted). tempDir holds the content of a
    // file written directly.
    OutputFile(const OutputTarget& target, const std::string& tempDir,
               const std::atomic<bool>* interrupt = nullptr);
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    std::ostream& Stream();
    const std::string& GetName() const { return fTarget.fName; }
    bool IsDirect() const { return fTarget.fbDirect; }
    // Throws HostError (usage) when what was written could not be kept
    // (a full disk).
    void Finish();
    // After Finish: puts the content in place. Throws HostError (usage)
    // when it cannot.
    void Commit();

    // Removes the temporary files of the files not committed; safe in a
    // signal handler.
    static void RemoveUnfinished() noexcept;
    // The same for a run asked to stop, which may be killed before it
    // unwinds (mpirun kills its processes soon after passing a SIGTERM
    // on): unless files are being put in place (a CommitWindow), which
    // then completes. Safe in a signal handler.
    static void AbandonUnfinished() noexcept;

    // While one lives (one at a time), AbandonUnfinished leaves the files
    // alone, so that those committed under it are put in place all or
    // none. Throws HostError (interrupted) when they were abandoned
    // already.
    class CommitWindow {
    public:
        CommitWindow();
        ~CommitWindow();
        CommitWindow(const CommitWindow&) = delete;
        CommitWindow& operator=(const CommitWindow&) = delete;
    };

private:
    class Buffer;
    // Creates the temporary file and locks it as this run's; throws
    // HostError (usage) when another run is writing it.
    int OpenPart(mode_t mode);
    void Copy();

    OutputTarget fTarget;
    const std::atomic<bool>* fpInterrupt;
    int fFd = -1;        // the temporary file
    int fTargetFd = -1;  // a file written directly
    int fLockFd = -1;    // holds the lock on the temporary file
    int fSlot = -1;      // in the list of unfinished files
    std::unique_ptr<Buffer> fpBuffer;
    std::unique_ptr<std::ostream> fpStream;
    bool fbCommitted = false;
};

}  // namespace mchost
