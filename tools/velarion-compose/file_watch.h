// What --watch waits on: the print file and every file of the logo folder
// (the style file, overlays, formatting tables, barcode files, pictures).
#pragma once

#include <map>
#include <string>
#include <vector>

namespace velarion::compose {

// Modification times and sizes of a set of files and of the regular files of
// some folders, taken by polling: a handful of files checked twice a second
// costs nothing, and polling needs no platform header, sees files that are
// replaced by rename (as editors save) and folders on network file systems,
// where inotify reports nothing for changes made by other machines.
class FileWatch {
public:
    // Starts watching these files and folders as they are now.
    void watch(std::vector<std::string> files, std::vector<std::string> folders);
    // True when anything changed since watch() or the last call: a file
    // written, replaced, added or removed.
    bool changed();
    // Takes the files the program itself wrote as they are now (no change).
    void accept(const std::vector<std::string>& written);

private:
    using Stamps = std::map<std::string, std::pair<long long, long long>>;
    Stamps snapshot() const;

    std::vector<std::string> files_, folders_;
    Stamps last_;
};

}  // namespace velarion::compose
