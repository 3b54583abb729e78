#include "commandline.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <thread>

int CommandLine::fail(int status, const std::string &message) const
{
    std::fprintf(stderr, "%s: %s\n", program.c_str(), message.c_str());
    return status;
}

int CommandLine::usageError(const std::string &message) const
{
    return fail(EXIT_USAGE, message + " (see " + program + " --help)");
}

std::string CommandLine::versionLine() const
{
    return program + " " + SANDPILE_VERSION + "\n";
}

std::string CommandLine::flushStdout()
{
    errno = 0;
    if (std::fflush(stdout) == 0 && !std::ferror(stdout))
        return {};
    return std::string("cannot write to standard output: ") + std::strerror(errno != 0 ? errno : EIO);
}

int CommandLine::defaultThreads()
{
    return int(std::max(1u, std::thread::hardware_concurrency()));
}
