#include "cli/progress.h"

#ifdef _WIN32
#include <io.h>
#define DLS2MML_ISATTY(fd) _isatty(fd)
#else
#include <unistd.h>
#define DLS2MML_ISATTY(fd) isatty(fd)
#endif

namespace dls2mml::cli {

bool standardErrorIsTerminal() { return DLS2MML_ISATTY(2) != 0; }

void ProgressLine::update(std::uint64_t done, std::uint64_t total)
{
    if (!enabled_ || total == UINT64_MAX || total < minimumInput || done >= total)
        return;
    const auto now = std::chrono::steady_clock::now();
    if (shown_ && now - lastDrawn_ < std::chrono::milliseconds(200))
        return;
    lastDrawn_ = now;
    const double seconds = std::chrono::duration<double>(now - start_).count();
    const double rate = seconds > 0 ? static_cast<double>(done) / seconds : 0;
    const double left = rate > 0 ? static_cast<double>(total - done) / rate : 0;
    std::fprintf(stderr, "\r%s: %.1f / %.1f MiB, %.1f MiB/s, %.0f s left   ", name_.c_str(),
                 static_cast<double>(done) / 1048576.0, static_cast<double>(total) / 1048576.0, rate / 1048576.0, left);
    std::fflush(stderr);
    shown_ = true;
}

void ProgressLine::clear()
{
    if (!shown_)
        return;
    std::fprintf(stderr, "\r%*s\r", static_cast<int>(name_.size() + 60), "");
    std::fflush(stderr);
    shown_ = false;
}

} // namespace dls2mml::cli
