#pragma once

#include <functional>
#include <stdexcept>
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
//
// A second signal (see Interrupt) while they are written removes the
// temporary files before the program ends; the renames themselves hold the
// signals back, so that they happen whole.
class AtomicFiles
{
public:
    // Asked once the temporary files are written: true abandons the set,
    // removing them, with Stopped.
    using Stop = std::function<bool()>;
    struct Stopped : std::runtime_error {
        Stopped() : std::runtime_error("stopped before the files were renamed") {}
    };

    void add(std::string path, std::string contents);
    void addMarker(std::string path, std::string contents);
    void commit(const Stop &stop = {});

    // Throws std::runtime_error unless commit() can write `path`: its
    // folder can be written in (or, when `folderMayBeMade`, its nearest
    // existing ancestor), no name is too long, and nothing on the way is a
    // file, a symbolic link loop or a link to nothing; nor is `path` itself
    // a folder, a symbolic link, or anything but a plain file (a device, a
    // pipe), which the rename would replace. Creates nothing.
    static void checkWritable(const std::string &path, bool folderMayBeMade);
    // Whether two paths name the same file or folder, however spelt or
    // linked to (a hard link, a symbolic link).
    static bool samePath(const std::string &a, const std::string &b);

private:
    static void checkWritableFolder(const std::string &folder);

    std::vector<std::pair<std::string, std::string>> files;
    std::vector<std::pair<std::string, std::string>> marker;   // none or one
};
