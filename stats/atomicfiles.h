#pragma once

#include <string>
#include <vector>

// Writes a set of files whole or not at all: each goes to a temporary file in
// its own folder first, and only when all are written are they renamed into
// place. Throws std::runtime_error naming the file that failed, after
// removing the temporary files.
class AtomicFiles
{
public:
    void add(std::string path, std::string contents);
    void commit();

    // Throws std::runtime_error unless a file can be created in `folder`.
    static void checkWritableFolder(const std::string &folder);

private:
    std::vector<std::pair<std::string, std::string>> files;
};
