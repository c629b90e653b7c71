#pragma once
#include <cstddef>
#include <string>
#include <utility>
#include <vector>

#include "projects/CurrentProject.h"

namespace ps {

constexpr const char* SettingsFileName = "PROGRAMMER.INI";
constexpr const char* SettingsSectionInit = "INIT";
constexpr const char* SettingsKeyExtraParameters = "ExtraParameters";
// The project entry the station always works on: level~number~name~step file~.
constexpr const char* FixedProjectEntry = "1~001~UPGRADE~upgrade.cfg~";
constexpr int ProjectFieldName = 3;
constexpr int ProjectFieldPath = 4;
constexpr char ProjectFieldSeparator = '~';
// Values longer than this are cut when read.
constexpr size_t SettingValueLimit = 2047;

// Where PROGRAMMER.INI lives: `override` when given (--ini); else the program's folder when
// it can be written (a copied folder is a portable station); else
// $XDG_CONFIG_HOME/progstation/PROGRAMMER.INI (default ~/.config/progstation/...).
std::string LocateSettingsFile(const std::string& programFolder, const std::string& override);

// One key of the settings file each; section and key names compare without case, blanks
// around a value are dropped, values are cut to 2047 characters, a missing file or key
// gives the default.
std::string ReadSetting(const std::string& iniPath, const std::string& section,
                        const std::string& key, const std::string& defaultValue);
// Keeps every other line as it was and replaces the file atomically (a missing file and its
// folders are created). Failures are not shown to the operator; false tells a caller that
// wants to know. Names or values that could not be read back as written (line breaks, a
// "=" in a key, a "]" in a section, blanks around a name) are refused with false, and a
// file that exists but cannot be read is left alone.
bool WriteSetting(const std::string& iniPath, const std::string& section, const std::string& key,
                  const std::string& value);

// Several keys in one replacement of the file, so a list saved over another is never left
// half written. Any refused name or value refuses the whole batch (false, file untouched).
struct SettingChange {
    std::string Section;
    std::string Key;
    std::string Value;
};
bool WriteSettings(const std::string& iniPath, const std::vector<SettingChange>& changes);

// Every key of a section in one reading of the file, in file order, with the value each
// would give ReadSetting (the first section of that name; a key named twice keeps its first
// value). Empty when the file or the section is missing.
std::vector<std::pair<std::string, std::string>> ReadSection(const std::string& iniPath,
                                                             const std::string& section);

// Field k (from 1) of a text whose fields are separated by `separator`; empty when absent.
std::string GetField(const std::string& text, int k, char separator);

// The current project: always "UPGRADE" with "upgrade.cfg", whatever the number, and the
// extra parameters of [INIT] "ExtraParameters".
CurrentProject SelectCurrentProject(const std::string& iniPath, int projectNumber = 0);

}  // namespace ps
