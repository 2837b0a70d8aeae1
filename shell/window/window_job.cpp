#include "shell/window/window_job.h"

#include <condition_variable>
#include <mutex>
#include <new>
#include <thread>
#include <utility>

#include "shell/conversion_job.h"
#include "shell/pivot_ledger.h"

namespace dls2mml {
namespace {

RevealHook revealHook = nullptr;
ProgressHook progressHook = nullptr;

// The job with nothing thrown out of it: on a thread of its own, an escaping
// exception would end the program. The fault is set without words, which
// would need memory.
JobReport runJob(const JobRequest& request) noexcept
{
    JobReport report;
    try {
        report = runConversionJob(request);
    } catch (const std::bad_alloc&) {
        report.fault.kind = FaultKind::outOfMemory;
    } catch (...) {
        report.fault.kind = FaultKind::internal;
    }
    return report;
}

// Runs the job on a thread of its own while this thread waits for it,
// calling the progress hook every aliveInterval until it is done. False, with
// nothing done, when no thread can be started.
bool runBeside(const JobRequest& request, JobReport& report)
{
    struct Shared {
        std::mutex mutex;
        std::condition_variable finished;
        bool done = false;
        JobReport report;
    } shared;
    std::thread worker;
    try {
        worker = std::thread([&request, &shared] {
            JobReport result = runJob(request);
            const std::lock_guard lock(shared.mutex);
            shared.report = std::move(result);
            shared.done = true;
            shared.finished.notify_one();
        });
    } catch (...) {
        return false; // no thread (std::system_error) or no memory for one
    }
    {
        std::unique_lock lock(shared.mutex);
        while (!shared.finished.wait_for(lock, aliveInterval, [&shared] { return shared.done; })) {
            lock.unlock();
            progressHook();
            lock.lock();
        }
    }
    worker.join();
    report = std::move(shared.report);
    return true;
}

} // namespace

void setRevealHook(RevealHook hook) { revealHook = hook; }

void setProgressHook(ProgressHook hook) { progressHook = hook; }

void ConvertDlsFile(char* path, const char* lowerPath)
{
    if (!path || !lowerPath)
        return;
    JobRequest request;
    request.path = path;
    request.lowerPath = lowerPath;
    request.threads = 0; // every core: the ledger keeps the documents those of one run
    request.ledger = &pivotLedger();
    JobReport report;
    if (!progressHook || !runBeside(request, report)) {
        if (progressHook) {
            request.progress = [](const JobProgress&) { progressHook(); };
            request.preparing = [](const JobProgress&) { progressHook(); };
        }
        report = runJob(request);
    }
    if (report.ok() && revealHook)
        revealHook(report.outputPath.c_str());
}

} // namespace dls2mml
