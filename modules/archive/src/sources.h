// Sources: what the caller names (files, folders, list files, NUL lists) turned into the sorted
// list of items, each path once. Every path named or found gives exactly one item: one that
// can't be checked (a FIFO, a dangling link, an unreadable folder) carries its error.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace sonara_archive {

struct Item {
    std::string path;
    std::string error;  // not empty: reported with this error, never read
};

struct WalkRules {
    bool recurse = true;
    bool decode = false;  // folders are also walked for the extensions decoding reads
};

class Sources {
public:
    explicit Sources(WalkRules rules) : rules_(rules) {}

    // A file, a folder, or a list file (by its name's extension). false (why in error) only for
    // a list that holds a NUL byte; an unreadable list file is an item with its error.
    bool add_path(const std::string &path, std::string &error);
    // A list file ("-": standard input), one path a line or NUL-separated. false when it can't
    // be read, or a newline list holds a NUL byte.
    bool add_list(const std::string &list, bool nul_separated, std::string &error);
    // An item as it is: not walked, not read as a list.
    void add_item(const std::string &path, const std::string &error);

    // Walks every folder named so far and answers the items, sorted by their bytes, each once.
    std::vector<Item> collect() const;

private:
    bool add_entries(const std::string &origin, const std::string &bytes, bool nul_separated,
                     std::string &error);

    WalkRules rules_;
    std::vector<std::string> named_;  // files and folders to look at when collecting
    std::vector<Item> items_;         // items given as they are
};

// true when name ends in ".wav" in any letter case.
bool has_wav_extension(const std::string &name);
// true when name ends in one of the extensions a walk with decoding reads.
bool has_decodable_extension(const std::string &name);
// true when name ends in ".txt", ".lst" or ".list": a list file.
bool has_list_extension(const std::string &name);

}  // namespace sonara_archive
