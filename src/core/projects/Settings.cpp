// SPDX-License-Identifier: MIT
#include "projects/Settings.h"
#include "projects/SettingsPlaces.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <ctime>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

#include "projects/AtomicFile.h"
#include "projects/UserFolder.h"

namespace ps {
namespace {

constexpr const char* ConfigSubfolder = "progstation";
constexpr const char* DefaultConfigHome = ".config";
constexpr const char* NewFileLineEnd = "\n";
constexpr mode_t NewFolderMode = 0755;

enum class LineKind { Other, Section, Key };

struct LineInfo {
    LineKind Kind = LineKind::Other;
    std::string_view Name;   // section or key name, trimmed
    std::string_view Value;  // key value, trimmed
};

// A CR left at the end of a line (a lone CR before the end of the file) is a blank too, so
// that a line reads the same once it gets its line end.
bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r';
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
    return s;
}

char LowerAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool EqualNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
    }
    return true;
}

std::string Lowered(std::string_view s) {
    std::string out(s);
    for (char& c : out) c = LowerAscii(c);
    return out;
}

LineInfo Classify(std::string_view text) {
    LineInfo info;
    std::string_view t = Trim(text);
    if (t.empty() || t.front() == ';' || t.front() == '#') return info;
    if (t.front() == '[') {
        size_t close = t.find(']');
        info.Kind = LineKind::Section;
        info.Name =
            Trim(t.substr(1, close == std::string_view::npos ? std::string_view::npos : close - 1));
        return info;
    }
    size_t eq = t.find('=');
    if (eq == std::string_view::npos) return info;
    info.Kind = LineKind::Key;
    info.Name = Trim(t.substr(0, eq));
    info.Value = Trim(t.substr(eq + 1));
    return info;
}

bool IsQuoted(std::string_view value) {
    return value.size() >= 2 && value.front() == '"' && value.back() == '"';
}

// One line of the settings text: where it starts, its text and its line end ("", "\n" or
// "\r\n"). Lines are walked in place, so reading a file costs no more than the file.
struct IniLine {
    size_t Begin = 0;
    std::string_view Text;
    std::string_view End;
};

bool NextIniLine(std::string_view content, size_t& pos, IniLine& line) {
    if (pos >= content.size()) return false;
    line.Begin = pos;
    const size_t lf = content.find('\n', pos);
    if (lf == std::string_view::npos) {
        line.Text = content.substr(pos);
        line.End = {};
        pos = content.size();
        return true;
    }
    size_t end = lf;
    if (end > pos && content[end - 1] == '\r') --end;
    line.Text = content.substr(pos, end - pos);
    line.End = content.substr(end, lf + 1 - end);
    pos = lf + 1;
    return true;
}

// What reading the settings file gave.
enum class FileState { Missing, Read, Refused };

// The whole settings file. Only a regular file of at most SettingsFileLimit bytes is read,
// opened without blocking (a pipe or a device named PROGRAMMER.INI reads as defaults and is
// never written over); Refused also covers a file that exists but cannot be read.
FileState ReadSettingsFile(const std::string& path, std::string& content) {
    content.clear();
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return (errno == ENOENT || errno == ENOTDIR) ? FileState::Missing : FileState::Refused;
    }
    struct FdCloser {
        int Fd;
        ~FdCloser() { close(Fd); }
    } closer{fd};
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return FileState::Refused;
    if (st.st_size < 0 || static_cast<uint64_t>(st.st_size) > SettingsFileLimit) {
        return FileState::Refused;
    }
    char buf[64 * 1024];
    for (;;) {
        const ssize_t n = read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return FileState::Refused;
        if (n == 0) break;
        if (content.size() + static_cast<size_t>(n) > SettingsFileLimit) return FileState::Refused;
        content.append(buf, static_cast<size_t>(n));
    }
    return FileState::Read;
}

// Where a key is in the file: the first section of that name, the first key of that name
// in it. Reading and writing use the same search, so a written value is the one read.
struct KeyPosition {
    bool SectionFound = false;
    bool KeyFound = false;
    IniLine Key;       // the key's line
    IniLine LastLine;  // the last non-blank line of the section, or of the file
    bool AnyLine = false;
    std::string_view FirstEnd;  // the first line end of the file ("" when none)
};

KeyPosition FindKey(std::string_view content, std::string_view section, std::string_view key) {
    KeyPosition at;
    size_t pos = 0;
    IniLine line;
    bool inSection = false;
    while (NextIniLine(content, pos, line)) {
        if (at.FirstEnd.empty()) at.FirstEnd = line.End;
        LineInfo info = Classify(line.Text);
        if (!at.SectionFound) {
            at.LastLine = line;  // new sections go after the file's last line
            at.AnyLine = true;
        }
        if (info.Kind == LineKind::Section) {
            if (inSection) break;  // the section ended
            if (EqualNoCase(info.Name, section)) {
                at.SectionFound = inSection = true;
                at.LastLine = line;
            }
            continue;
        }
        if (!inSection) continue;
        if (!Trim(line.Text).empty()) at.LastLine = line;
        if (info.Kind == LineKind::Key && !at.KeyFound && EqualNoCase(info.Name, key)) {
            at.KeyFound = true;
            at.Key = line;
        }
    }
    // The first line end counts even when it comes after the section.
    while (at.FirstEnd.empty() && NextIniLine(content, pos, line)) at.FirstEnd = line.End;
    return at;
}

bool HasLineBreak(std::string_view s) {
    return s.find('\n') != std::string_view::npos || s.find('\r') != std::string_view::npos;
}

// Names that could not be read back as written are refused rather than stored.
bool IsWritableName(std::string_view name, bool isSection) {
    if (name.empty() || HasLineBreak(name) || Trim(name) != name) return false;
    if (isSection) return name.find(']') == std::string_view::npos;
    return name.find('=') == std::string_view::npos && name.front() != '[' && name.front() != ';' &&
           name.front() != '#';
}

// Holds the folder's lock for as long as it lives, so that two stations writing settings
// there at the same time take turns and neither loses the other's update.
class FolderLock {
public:
    explicit FolderLock(const std::string& folder) {
        fd_ = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd_ < 0) return;
        // Writers hold it for the few milliseconds of one write; give up rather than hang
        // behind a process that holds it for good.
        for (int tries = 0; tries < LockTries; ++tries) {
            if (flock(fd_, LOCK_EX | LOCK_NB) == 0) {
                locked_ = true;
                return;
            }
            if (errno != EWOULDBLOCK && errno != EINTR) return;
            const timespec pause{0, LockPauseNs};
            nanosleep(&pause, nullptr);
        }
    }
    ~FolderLock() {
        if (fd_ >= 0) close(fd_);  // releases the lock
    }
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;
    bool Locked() const { return locked_; }

private:
    static constexpr int LockTries = 500;
    static constexpr long LockPauseNs = 10'000'000;  // 10 ms: 5 s in all
    int fd_ = -1;
    bool locked_ = false;
};

std::string FolderOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

// Creates the missing folders of a path (its last component is the file).
void MakeParentFolders(const std::string& path) {
    for (size_t slash = path.find('/', 1); slash != std::string::npos;
         slash = path.find('/', slash + 1)) {
        std::string folder = path.substr(0, slash);
        mkdir(folder.c_str(), NewFolderMode);  // EEXIST is fine; a real failure shows later
    }
}

std::string JoinPath(const std::string& folder, const std::string& name) {
    if (folder.empty() || folder.back() == '/') return folder + name;
    return folder + "/" + name;
}

// Every change is one that reading gives back exactly: a name it finds, a value on one line
// and no longer than the values it reads.
bool ChangesReadBack(const std::vector<SettingChange>& changes) {
    for (const SettingChange& c : changes) {
        if (!IsWritableName(c.Section, true) || !IsWritableName(c.Key, false) ||
            HasLineBreak(c.Value) || c.Value.size() > SettingValueLimit) {
            return false;
        }
    }
    return true;
}

}  // namespace

namespace {

// $XDG_CONFIG_HOME/progstation/PROGRAMMER.INI, by default under ~/.config.
std::string UserSettingsFile() {
    if (const std::string own = SystemUserSettingsFolder(); !own.empty())
        return JoinPath(own, SettingsFileName);
    std::string configHome;
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    // Only an absolute XDG_CONFIG_HOME counts; a relative one is to be ignored.
    if (xdg != nullptr && xdg[0] == '/') {
        configHome = xdg;
    } else {
        const char* home = std::getenv("HOME");
        std::string homeDir;
        if (home != nullptr && home[0] != '\0') {
            homeDir = home;
        } else if (const passwd* pw = getpwuid(getuid()); pw != nullptr && pw->pw_dir) {
            homeDir = pw->pw_dir;
        } else {
            homeDir = ".";
        }
        configHome = JoinPath(homeDir, DefaultConfigHome);
    }
    return JoinPath(JoinPath(configHome, ConfigSubfolder), SettingsFileName);
}

bool IsRegularFile(const std::string& path) {
    struct stat st {};
    return !path.empty() && stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

}  // namespace

SettingsFiles ChooseSettingsFiles(const std::string& programFile, const std::string& userFile,
                                  bool programFolderWritable, bool userFileExists) {
    SettingsFiles files;
    if (userFileExists || programFile.empty()) {
        // The user's own file, once there, is the one read; its changes go there too, or
        // they would never be read back.
        files.Read = files.Write = userFile;
    } else {
        files.Read = programFile;
        files.Write = programFolderWritable ? programFile : userFile;
    }
    if (files.Write == userFile && !programFile.empty()) files.Shipped = programFile;
    return files;
}

SettingsFiles LocateSettingsFiles(const std::string& programFolder, const std::string& override) {
    if (!override.empty()) return {override, override, ""};
    const std::string userFile = UserSettingsFile();
    if (IsInstalledProgramFolder(programFolder))
        return ChooseInstalledSettingsFiles(userFile, SystemSettingsFile, IsRegularFile(userFile),
                                            IsRegularFile(SystemSettingsFile));
    const std::string programFile =
        programFolder.empty() ? std::string() : JoinPath(programFolder, SettingsFileName);
    const bool writable = !programFolder.empty() && access(programFolder.c_str(), W_OK) == 0;
    return ChooseSettingsFiles(programFile, userFile, writable, IsRegularFile(userFile));
}

std::string LocateSettingsFile(const std::string& programFolder, const std::string& override) {
    return LocateSettingsFiles(programFolder, override).Read;
}

bool WriteStationSettings(const SettingsFiles& files, const std::vector<SettingChange>& changes) {
    if (!ChangesReadBack(changes)) return false;
    // A user's file begins as a copy of the shipped one, so that the shipped extra
    // parameters and ports are not lost with the first change.
    if (!files.Shipped.empty() && files.Write != files.Shipped && !IsRegularFile(files.Write) &&
        IsRegularFile(files.Shipped)) {
        std::string shipped;
        if (ReadSettingsFile(files.Shipped, shipped) != FileState::Read) return false;
        MakeParentFolders(files.Write);
        AtomicFile copy(files.Write);
        if (!copy.Open() || !copy.Write(shipped.data(), shipped.size()) || !copy.Commit())
            return false;
    }
    return WriteSettings(files.Write, changes);
}

bool WriteStationSetting(const SettingsFiles& files, const std::string& section,
                         const std::string& key, const std::string& value) {
    return WriteStationSettings(files, {{section, key, value}});
}

std::string ReadSetting(const std::string& iniPath, const std::string& section,
                        const std::string& key, const std::string& defaultValue) {
    std::string content;
    if (ReadSettingsFile(iniPath, content) != FileState::Read) return defaultValue;
    KeyPosition at = FindKey(content, Trim(section), Trim(key));
    if (!at.KeyFound) return defaultValue;
    std::string_view value = Classify(at.Key.Text).Value;
    // One pair of double quotes around a value is not part of it, as INI readers have it.
    if (IsQuoted(value)) value = value.substr(1, value.size() - 2);
    return std::string(value.substr(0, SettingValueLimit));
}

bool WriteSetting(const std::string& iniPath, const std::string& section, const std::string& key,
                  const std::string& value) {
    return WriteSettings(iniPath, {{section, key, value}});
}

namespace {

// Where each key is, as FindKey finds it: the first section of a name, the first key
// of a name in it, the section's last non-blank line.
struct SectionAt {
    bool Exists = false;
    size_t After = 0;  // the end of its last non-blank line (with its line end)
    bool AfterHasEnd = true;
    std::unordered_map<std::string, size_t> Keys;  // lower-case name -> where its line begins
    std::vector<std::string> Added;                // new key lines, in order
};

struct IniLayout {
    std::unordered_map<std::string, SectionAt> Sections;  // by lower-case name
    std::string LineEnd;  // the file's own line end, for the lines added to it
};

// Replaced lines by where they begin; new sections in order.
struct PlannedChanges {
    std::unordered_map<size_t, std::string> Replaced;
    std::vector<std::string> NewSections;
    size_t Extra = 0;  // about how much longer the text gets
};

IniLayout MapSections(std::string_view text) {
    IniLayout layout;
    std::string_view firstEnd;
    size_t fileEnd = 0;  // the end of the line just read
    bool fileEndHasEnd = true;
    SectionAt* current = nullptr;
    size_t pos = 0;
    IniLine line;
    while (NextIniLine(text, pos, line)) {
        if (firstEnd.empty()) firstEnd = line.End;
        fileEnd = line.Begin + line.Text.size() + line.End.size();
        fileEndHasEnd = !line.End.empty();
        LineInfo info = Classify(line.Text);
        if (info.Kind == LineKind::Section) {
            auto [it, first] = layout.Sections.try_emplace(Lowered(info.Name));
            current = first ? &it->second : nullptr;
            if (current != nullptr) {
                current->Exists = true;
                current->After = fileEnd;
                current->AfterHasEnd = fileEndHasEnd;
            }
            continue;
        }
        if (current == nullptr) continue;
        if (!Trim(line.Text).empty()) {
            current->After = fileEnd;
            current->AfterHasEnd = fileEndHasEnd;
        }
        if (info.Kind == LineKind::Key) current->Keys.try_emplace(Lowered(info.Name), line.Begin);
    }
    layout.LineEnd = firstEnd.empty() ? NewFileLineEnd : std::string(firstEnd);
    return layout;
}

// The line that sets a key. Blanks around a value, or quotes around it, would not read back
// as written: such a value gets one pair of quotes, which reading takes off again.
std::string KeyLine(const SettingChange& c) {
    const std::string& v = c.Value;
    const bool quote = !v.empty() && (IsBlank(v.front()) || IsBlank(v.back()) || IsQuoted(v));
    return c.Key + "=" + (quote ? "\"" + v + "\"" : v);
}

// Which lines the changes replace and which they add, to the sections of `layout`. A key set
// twice keeps its last value.
PlannedChanges PlanChanges(const std::vector<SettingChange>& changes, IniLayout& layout) {
    PlannedChanges plan;
    std::unordered_map<std::string, std::unordered_map<std::string, size_t>> addedAt;
    for (const SettingChange& c : changes) {
        std::string keyLine = KeyLine(c);
        plan.Extra += keyLine.size() + c.Section.size() + 8;
        const std::string sectionName = Lowered(c.Section);
        const std::string keyName = Lowered(c.Key);
        auto [sec, newSection] = layout.Sections.try_emplace(sectionName);
        if (newSection) plan.NewSections.push_back(c.Section);
        SectionAt& at = sec->second;
        if (auto k = at.Keys.find(keyName); k != at.Keys.end()) {
            plan.Replaced[k->second] = std::move(keyLine);
            continue;
        }
        auto [added, isNew] = addedAt[sectionName].try_emplace(keyName, at.Added.size());
        if (isNew) {
            at.Added.push_back(std::move(keyLine));
        } else {
            at.Added[added->second] = std::move(keyLine);
        }
    }
    return plan;
}

std::string WriteChanged(std::string_view text, const IniLayout& layout,
                         const PlannedChanges& plan) {
    // Sections that get new keys, by the end of their last line.
    std::unordered_map<size_t, const SectionAt*> insertAt;
    for (const auto& [name, at] : layout.Sections) {
        if (at.Exists && !at.Added.empty()) insertAt[at.After] = &at;
    }
    const std::string& lineEnd = layout.LineEnd;
    std::string out;
    out.reserve(text.size() + plan.Extra);
    auto insertAfter = [&](size_t end) {
        auto it = insertAt.find(end);
        if (it == insertAt.end()) return;
        if (!it->second->AfterHasEnd) out += lineEnd;
        for (const std::string& keyLine : it->second->Added) out += keyLine + lineEnd;
    };
    size_t pos = 0;
    IniLine line;
    while (NextIniLine(text, pos, line)) {
        auto r = plan.Replaced.find(line.Begin);
        if (r != plan.Replaced.end()) {
            out += r->second;
        } else {
            out.append(line.Text);
        }
        out.append(line.End);
        insertAfter(line.Begin + line.Text.size() + line.End.size());
    }
    if (!plan.NewSections.empty()) {
        // Whatever was added last in the file, the line before the new sections ends.
        if (!out.empty() && out.back() != '\n') out += lineEnd;
        for (const std::string& name : plan.NewSections) {
            out += "[" + name + "]" + lineEnd;
            for (const std::string& keyLine : layout.Sections.at(Lowered(name)).Added) {
                out += keyLine + lineEnd;
            }
        }
    }
    return out;
}

// The text of the settings file with the changes made, as writing them one by one would
// make it, in one pass over the text.
std::string ApplyChanges(const std::string& content, const std::vector<SettingChange>& changes) {
    IniLayout layout = MapSections(content);
    const PlannedChanges plan = PlanChanges(changes, layout);
    return WriteChanged(content, layout, plan);
}

}  // namespace

bool WriteSettings(const std::string& iniPath, const std::vector<SettingChange>& changes) {
    if (iniPath.empty() || !ChangesReadBack(changes)) return false;
    // Write the file a link points to and keep the link.
    std::string target = iniPath;
    struct stat linkStat {};
    if (lstat(iniPath.c_str(), &linkStat) == 0 && S_ISLNK(linkStat.st_mode)) {
        char resolved[PATH_MAX];
        if (realpath(iniPath.c_str(), resolved) == nullptr) return false;  // a dangling link
        target = resolved;
    }
    MakeParentFolders(target);
    FolderLock lock(FolderOf(target));
    if (!lock.Locked()) return false;

    std::string content;
    // A file that exists but cannot be read is never replaced: its content would be lost.
    if (ReadSettingsFile(target, content) == FileState::Refused) return false;
    const std::string out = ApplyChanges(content, changes);
    // A file the reader would refuse for its size would read as all defaults afterwards.
    if (out.size() > SettingsFileLimit) return false;
    AtomicFile file(target);
    return file.Open() && file.Write(out.data(), out.size()) && file.Commit();
}

std::vector<std::pair<std::string, std::string>> ReadSection(const std::string& iniPath,
                                                             const std::string& section) {
    std::vector<std::pair<std::string, std::string>> keys;
    std::string content;
    if (ReadSettingsFile(iniPath, content) != FileState::Read) return keys;
    const std::string_view wanted = Trim(section);
    std::unordered_set<std::string> seen;  // names in lower case
    bool inSection = false;
    size_t pos = 0;
    IniLine line;
    while (NextIniLine(content, pos, line)) {
        LineInfo info = Classify(line.Text);
        if (info.Kind == LineKind::Section) {
            if (inSection) break;  // the first section of that name ended
            inSection = EqualNoCase(info.Name, wanted);
            continue;
        }
        if (!inSection || info.Kind != LineKind::Key) continue;
        if (!seen.insert(Lowered(info.Name)).second) continue;
        std::string_view value = info.Value;
        if (IsQuoted(value)) value = value.substr(1, value.size() - 2);
        keys.emplace_back(std::string(info.Name), std::string(value.substr(0, SettingValueLimit)));
    }
    return keys;
}

std::string GetField(const std::string& text, int k, char separator) {
    if (k <= 0) return {};
    std::string rest = text + separator;
    size_t start = 0;
    std::string result;
    for (int i = 0; i < k; ++i) {
        size_t sep = rest.find(separator, start);
        if (sep == std::string::npos) return {};
        result = rest.substr(start, sep - start);
        start = sep + 1;
    }
    return result;
}

CurrentProject SelectCurrentProject(const std::string& iniPath, int projectNumber) {
    // The station always works on this one project, whatever number it is asked for.
    (void)projectNumber;
    CurrentProject project;
    project.StepFile = GetField(FixedProjectEntry, ProjectFieldPath, ProjectFieldSeparator);
    project.Name = GetField(FixedProjectEntry, ProjectFieldName, ProjectFieldSeparator);
    project.ExtraParameters =
        ReadSetting(iniPath, SettingsSectionInit, SettingsKeyExtraParameters, "");
    return project;
}

}  // namespace ps
