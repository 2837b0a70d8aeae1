#include "shell/window/window_job.h"

#include "shell/conversion_job.h"
#include "shell/pivot_ledger.h"

namespace dls2mml {
namespace {

RevealHook revealHook = nullptr;
ProgressHook progressHook = nullptr;

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
    if (progressHook) {
        request.progress = [](const JobProgress&) { progressHook(); };
        request.preparing = [](const JobProgress&) { progressHook(); };
    }
    const JobReport report = runConversionJob(request);
    if (report.ok() && revealHook)
        revealHook(report.outputPath.c_str());
}

} // namespace dls2mml
