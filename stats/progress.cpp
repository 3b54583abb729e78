#include "progress.h"

#include <algorithm>
#include <string>

namespace {
constexpr int BAR_WIDTH = 30;
}

Progress::Progress(std::FILE *terminal, std::int64_t totalGrains)
    : out(terminal)
    , total(std::max<std::int64_t>(1, totalGrains))
    , start(std::chrono::steady_clock::now())
{
}

void Progress::update(std::int64_t grainsDone)
{
    const double fraction = std::min(1.0, double(grainsDone) / double(total));
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const double rate = seconds > 0 ? grainsDone / seconds : 0;
    const int filled = int(fraction * BAR_WIDTH);
    const std::string bar = std::string(std::size_t(filled), '#') + std::string(std::size_t(BAR_WIDTH - filled), '.');
    std::fprintf(out, "\r[%s] %5.1f %%  %.3g M grains/s", bar.c_str(), 100 * fraction, rate / 1e6);
    if (rate > 0) {
        const long long left = (long long)((total - grainsDone) / rate);
        std::fprintf(out, "  %lld:%02lld:%02lld left ", left / 3600, left / 60 % 60, left % 60);
    }
    std::fflush(out);
}

void Progress::finish()
{
    std::fprintf(out, "\r%*s\r", BAR_WIDTH + 60, "");
    std::fflush(out);
}
