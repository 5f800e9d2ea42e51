#include "host/base/TaskThreads.h"

#include <system_error>
#include <utility>

namespace mchost {

TaskThreads::TaskThreads(unsigned n) {
    fvThreads.reserve(n);
    try {
        for (unsigned i = 0; i < n; ++i) fvThreads.emplace_back([this] { Work(); });
    } catch (const std::system_error&) {
        // As many as there are: the caller works with those.
    }
}

TaskThreads::~TaskThreads() {
    Wait();
    {
        const std::lock_guard<std::mutex> lock(fMutex);
        fbStop = true;
    }
    fWake.notify_all();
    for (std::thread& t : fvThreads) t.join();
}

void TaskThreads::Start(std::function<void(std::size_t)> task, std::size_t n) {
    {
        const std::lock_guard<std::mutex> lock(fMutex);
        fTask = std::move(task);
        fNTasks = n;
        fNext = fNDone = 0;
    }
    fWake.notify_all();
}

bool TaskThreads::RunNext(std::unique_lock<std::mutex>& lock) {
    if (fNext == fNTasks) return false;
    const std::size_t i = fNext++;
    lock.unlock();
    fTask(i);
    lock.lock();
    if (++fNDone == fNTasks) fDone.notify_all();
    return true;
}

void TaskThreads::Wait() {
    std::unique_lock<std::mutex> lock(fMutex);
    while (RunNext(lock)) {
    }
    fDone.wait(lock, [this] { return fNDone == fNTasks; });
}

void TaskThreads::Work() {
    std::unique_lock<std::mutex> lock(fMutex);
    for (;;) {
        fWake.wait(lock, [this] { return fbStop || fNext < fNTasks; });
        if (!RunNext(lock)) return;  // stopped
    }
}

}  // namespace mchost
