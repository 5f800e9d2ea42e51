#pragma once
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace mchost {

// A few threads kept for a series of batches of tasks, so that work handed
// out in many small batches (a reader's blocks) does not start threads for
// each. One batch at a time: Start, then Wait before the next Start. The
// caller that waits runs the tasks not yet taken, so that n threads and the
// caller keep n + 1 processors busy.
class TaskThreads {
public:
    // Up to n threads; fewer, or none, when the system has no more.
    explicit TaskThreads(unsigned n);
    // Waits for the batch, then ends the threads.
    ~TaskThreads();
    TaskThreads(const TaskThreads&) = delete;
    TaskThreads& operator=(const TaskThreads&) = delete;

    std::size_t Size() const { return fvThreads.size(); }
    // Runs task(0) .. task(n - 1) on the threads, and on the caller once it
    // waits, and returns at once. A task must not throw.
    void Start(std::function<void(std::size_t)> task, std::size_t n);
    // Until every task of the batch has returned, running those that no
    // thread has taken yet on the calling thread.
    void Wait();

private:
    void Work();
    // Runs the next task untaken, the lock held on entry and return; false
    // when there is none.
    bool RunNext(std::unique_lock<std::mutex>& lock);

    std::mutex fMutex;
    std::condition_variable fWake;  // a batch, or the end
    std::condition_variable fDone;  // a batch finished
    std::function<void(std::size_t)> fTask;
    std::size_t fNTasks = 0;
    std::size_t fNext = 0;  // the next task to take
    std::size_t fNDone = 0;
    bool fbStop = false;
    std::vector<std::thread> fvThreads;
};

}  // namespace mchost
