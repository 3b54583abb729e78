#pragma once

#include <string>

// What the project's command-line tools share: the exit statuses, the
// one-line errors under the program's name, --version, standard output
// checked, and the default number of threads.
class CommandLine
{
public:
    static constexpr int EXIT_IO = 1;      // a file, the output or the memory failed
    static constexpr int EXIT_USAGE = 2;   // bad usage or bad input

    explicit CommandLine(std::string program) : program(std::move(program)) {}

    // Writes "program: message" on stderr; returns `status`.
    int fail(int status, const std::string &message) const;
    // A usage error pointing to --help; returns EXIT_USAGE.
    int usageError(const std::string &message) const;
    // The line --version prints: "program VERSION".
    std::string versionLine() const;

    // Flushes standard output; "" or the line that says why it failed.
    static std::string flushStdout();
    // One thread a core, at least one.
    static int defaultThreads();

private:
    std::string program;
};
