// SPDX-License-Identifier: MIT
#include "images/FileLookup.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <vector>

namespace ps {

const char* const MsgAmbiguousFileName = "AMBIGUOUS FILE NAME: ";

namespace {

bool Exists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

bool EqualIgnoringAsciiCase(const std::string& a, const char* b) {
    size_t i = 0;
    for (; i < a.size(); ++i) {
        const char cb = b[i];
        if (cb == '\0') return false;
        char ca = a[i];
        char cc = cb;
        if (ca >= 'A' && ca <= 'Z') ca = static_cast<char>(ca - 'A' + 'a');
        if (cc >= 'A' && cc <= 'Z') cc = static_cast<char>(cc - 'A' + 'a');
        if (ca != cc) return false;
    }
    return b[i] == '\0';
}

std::string Join(const std::string& folder, const std::string& name) {
    if (folder.empty()) return name;
    if (folder.back() == '/') return folder + name;
    return folder + "/" + name;
}

// Entries of `folder` (the working folder when empty) equal to `name` but for case.
std::vector<std::string> MatchesIgnoringCase(const std::string& folder, const std::string& name) {
    std::vector<std::string> found;
    DIR* dir = ::opendir(folder.empty() ? "." : folder.c_str());
    if (dir == nullptr) return found;
    while (const dirent* entry = ::readdir(dir)) {
        if (EqualIgnoringAsciiCase(name, entry->d_name)) found.emplace_back(entry->d_name);
    }
    ::closedir(dir);
    std::sort(found.begin(), found.end());
    return found;
}

}  // namespace

std::string FindFileIgnoringCase(const std::string& path, std::string& error) {
    error.clear();
    if (path.empty()) return {};
    if (Exists(path)) return path;

    // Walk the path one component at a time, keeping what was found so far.
    std::string found = path.front() == '/' ? "/" : "";
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find('/', start);
        if (end == std::string::npos) end = path.size();
        const std::string part = path.substr(start, end - start);
        start = end + 1;
        if (part.empty()) continue;  // leading, doubled or trailing '/'
        const std::string exact = Join(found, part);
        if (part == "." || part == ".." || Exists(exact)) {
            found = exact;
            continue;
        }
        const auto matches = MatchesIgnoringCase(found, part);
        if (matches.empty()) return {};
        if (matches.size() > 1) {
            error = MsgAmbiguousFileName;
            for (size_t i = 0; i < matches.size(); ++i) {
                if (i > 0) error += ", ";
                error += "\"" + Join(found, matches[i]) + "\"";
            }
            return {};
        }
        found = Join(found, matches.front());
    }
    return Exists(found) ? found : std::string{};
}

}  // namespace ps
