#pragma once

#include <string>
#include <vector>

// Writes a set of files whole or not at all: each goes to a temporary file in
// its own folder first, synced to disk, and only when all are written are
// they renamed into place. Throws std::runtime_error naming the file that
// failed, after removing the temporary files.
//
// A set can have a marker file that says the set is complete: any old one
// is removed before the other files are renamed, and the new one renamed
// last, so that a rename failing half-way leaves no marker beside a mixed
// set.
class AtomicFiles
{
public:
    void add(std::string path, std::string contents);
    void addMarker(std::string path, std::string contents);
    void commit();

    // Throws std::runtime_error unless commit() can write `path`: its
    // folder can be written in (or, when `folderMayBeMade`, its nearest
    // existing ancestor), no name is too long, and nothing on the way is a
    // file, a symbolic link loop or a link to nothing; nor is `path` itself
    // a folder, such a link, or anything but a plain file (a device, a
    // pipe), which the rename would replace. Creates nothing.
    static void checkWritable(const std::string &path, bool folderMayBeMade);
    // Whether two paths name the same file or folder, however spelt.
    static bool samePath(const std::string &a, const std::string &b);

private:
    static void checkWritableFolder(const std::string &folder);

    std::vector<std::pair<std::string, std::string>> files;
    std::vector<std::pair<std::string, std::string>> marker;   // none or one
};
