#include "projects/Settings.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

#include "projects/AtomicFile.h"

namespace ps {
namespace {

constexpr const char* ConfigSubfolder = "progstation";
constexpr const char* DefaultConfigHome = ".config";
constexpr const char* NewFileLineEnd = "\n";
constexpr mode_t NewFolderMode = 0755;

// One line of the settings file with its own line end ("", "\n" or "\r\n").
struct IniLine {
    std::string Text;
    std::string End;
};

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

LineInfo Classify(const std::string& text) {
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

std::vector<IniLine> SplitLines(const std::string& content) {
    std::vector<IniLine> lines;
    size_t pos = 0;
    while (pos < content.size()) {
        size_t lf = content.find('\n', pos);
        if (lf == std::string::npos) {
            lines.push_back({content.substr(pos), ""});
            break;
        }
        size_t end = lf;
        std::string lineEnd = "\n";
        if (end > pos && content[end - 1] == '\r') {
            --end;
            lineEnd = "\r\n";
        }
        lines.push_back({content.substr(pos, end - pos), lineEnd});
        pos = lf + 1;
    }
    return lines;
}

// The whole file; nullopt when it exists but cannot be read, empty when it does not exist.
std::optional<std::string> ReadWholeFile(const std::string& path, bool& exists) {
    exists = false;
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> f(std::fopen(path.c_str(), "rb"), &std::fclose);
    if (!f) {
        if (errno == ENOENT || errno == ENOTDIR) return std::string();
        exists = true;
        return std::nullopt;
    }
    exists = true;
    struct stat st {};
    if (fstat(fileno(f.get()), &st) != 0 || S_ISDIR(st.st_mode)) return std::nullopt;
    std::string content;
    char buf[64 * 1024];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f.get())) > 0) content.append(buf, n);
    if (std::ferror(f.get())) return std::nullopt;
    return content;
}

// Where a key is in the file: the first section of that name, the first key of that name
// in it. Reading and writing use the same search, so a written value is the one read.
struct KeyPosition {
    int Section = -1;   // line of the section header
    int LastLine = -1;  // last non-blank line of that section
    int Key = -1;       // line of the key
};

KeyPosition FindKey(const std::vector<IniLine>& lines, std::string_view section,
                    std::string_view key) {
    KeyPosition at;
    for (int i = 0; i < static_cast<int>(lines.size()); ++i) {
        LineInfo info = Classify(lines[i].Text);
        if (info.Kind == LineKind::Section) {
            if (at.Section >= 0) break;  // the section ended
            if (EqualNoCase(info.Name, section)) at.Section = at.LastLine = i;
            continue;
        }
        if (at.Section < 0) continue;
        if (!Trim(lines[i].Text).empty()) at.LastLine = i;
        if (info.Kind == LineKind::Key && at.Key < 0 && EqualNoCase(info.Name, key)) at.Key = i;
    }
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

}  // namespace

namespace {

// $XDG_CONFIG_HOME/progstation/PROGRAMMER.INI, by default under ~/.config.
std::string UserSettingsFile() {
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
    const std::string programFile =
        programFolder.empty() ? std::string() : JoinPath(programFolder, SettingsFileName);
    const bool writable = !programFolder.empty() && access(programFolder.c_str(), W_OK) == 0;
    return ChooseSettingsFiles(programFile, userFile, writable, IsRegularFile(userFile));
}

std::string LocateSettingsFile(const std::string& programFolder, const std::string& override) {
    return LocateSettingsFiles(programFolder, override).Read;
}

bool WriteStationSetting(const SettingsFiles& files, const std::string& section,
                         const std::string& key, const std::string& value) {
    // A user's file begins as a copy of the shipped one, so that the shipped extra
    // parameters and ports are not lost with the first change.
    if (!files.Shipped.empty() && files.Write != files.Shipped && !IsRegularFile(files.Write) &&
        IsRegularFile(files.Shipped)) {
        bool exists = false;
        std::optional<std::string> shipped = ReadWholeFile(files.Shipped, exists);
        if (!shipped) return false;
        MakeParentFolders(files.Write);
        AtomicFile copy(files.Write);
        if (!copy.Open() || !copy.Write(shipped->data(), shipped->size()) || !copy.Commit())
            return false;
    }
    return WriteSetting(files.Write, section, key, value);
}

std::string ReadSetting(const std::string& iniPath, const std::string& section,
                        const std::string& key, const std::string& defaultValue) {
    bool exists = false;
    std::optional<std::string> content = ReadWholeFile(iniPath, exists);
    if (!content) return defaultValue;
    std::vector<IniLine> lines = SplitLines(*content);
    KeyPosition at = FindKey(lines, Trim(section), Trim(key));
    if (at.Key < 0) return defaultValue;
    std::string_view value = Classify(lines[at.Key].Text).Value;
    return std::string(value.substr(0, SettingValueLimit));
}

bool WriteSetting(const std::string& iniPath, const std::string& section, const std::string& key,
                  const std::string& value) {
    if (iniPath.empty() || !IsWritableName(section, true) || !IsWritableName(key, false) ||
        HasLineBreak(value)) {
        return false;
    }
    bool exists = false;
    std::optional<std::string> content = ReadWholeFile(iniPath, exists);
    // A file that exists but cannot be read is never replaced: its content would be lost.
    if (!content) return false;

    // Replace the file a link points to, not the link.
    std::string target = iniPath;
    if (exists) {
        char resolved[PATH_MAX];
        if (realpath(iniPath.c_str(), resolved) != nullptr) target = resolved;
    } else {
        MakeParentFolders(iniPath);
    }

    std::vector<IniLine> lines = SplitLines(*content);
    std::string lineEnd = NewFileLineEnd;
    for (const IniLine& l : lines) {
        if (!l.End.empty()) {
            lineEnd = l.End;
            break;
        }
    }
    const std::string keyLine = key + "=" + value;
    KeyPosition at = FindKey(lines, section, key);
    if (at.Key >= 0) {
        lines[at.Key].Text = keyLine;
    } else {
        // New lines go after the last line of the section, or at the end of the file; the
        // line before them needs an end of its own.
        int after = at.Section >= 0 ? at.LastLine : static_cast<int>(lines.size()) - 1;
        if (after >= 0 && lines[after].End.empty()) lines[after].End = lineEnd;
        std::vector<IniLine> added;
        if (at.Section < 0) added.push_back({"[" + section + "]", lineEnd});
        added.push_back({keyLine, lineEnd});
        lines.insert(lines.begin() + (after + 1), added.begin(), added.end());
    }

    std::string out;
    out.reserve(content->size() + keyLine.size() + section.size() + 8);
    for (const IniLine& l : lines) {
        out += l.Text;
        out += l.End;
    }
    AtomicFile file(target);
    return file.Open() && file.Write(out.data(), out.size()) && file.Commit();
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
