// SPDX-License-Identifier: MIT
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
// Values longer than this are cut when read; the writer refuses them.
constexpr size_t SettingValueLimit = 2047;
// A settings file is a few hundred bytes; one beyond this size (or anything but a regular
// file) reads as all defaults and is never written over.
constexpr size_t SettingsFileLimit = 4 * 1024 * 1024;

// Where the station's PROGRAMMER.INI is read and where a change to it is written.
struct SettingsFiles {
    std::string Read;
    std::string Write;
    // The program folder's (shipped) file, when a change goes to the user's file: a user's
    // file that does not exist yet starts as a copy of it. Empty otherwise.
    std::string Shipped;
};

// `override` (--ini) for both when given. Otherwise the user's file
// ($XDG_CONFIG_HOME/progstation/PROGRAMMER.INI, default ~/.config/progstation/...) when it
// exists, for both; else the program folder's file is read, and changes go to it when the
// folder can be written (a copied folder is a portable station), to the user's file
// otherwise (an installed station).
SettingsFiles LocateSettingsFiles(const std::string& programFolder, const std::string& override);
// The same rule, given what the machine says ("" for programFile: no program folder).
SettingsFiles ChooseSettingsFiles(const std::string& programFile, const std::string& userFile,
                                  bool programFolderWritable, bool userFileExists);
// The file to read: LocateSettingsFiles(...).Read.
std::string LocateSettingsFile(const std::string& programFolder, const std::string& override);
// WriteSetting to files.Write, which first becomes a copy of files.Shipped when it does
// not exist yet.
bool WriteStationSetting(const SettingsFiles& files, const std::string& section,
                         const std::string& key, const std::string& value);

// One key of the settings file each; section and key names compare without case, blanks
// around a value are dropped, then one pair of double quotes around it, values are cut to
// 2047 characters, a missing file or key gives the default.
std::string ReadSetting(const std::string& iniPath, const std::string& section,
                        const std::string& key, const std::string& defaultValue);
// Keeps every other line as it was and replaces the file atomically (a missing file and its
// folders are created). Failures are not shown to the operator; false tells a caller that
// wants to know. Names or values that could not be read back as written (line breaks, a
// "=" in a key, a "]" in a section, blanks around a name, a value longer than
// SettingValueLimit, a file that would grow past SettingsFileLimit) are refused with false,
// the file untouched; a value
// with blanks or quotes at its ends is written in quotes. A file that exists but cannot be
// read, is not a regular file, is too large or is read-only is left alone. A link is kept
// (the file it points to is written), as are the file's owner and mode; writers in one
// folder take turns (a lock on the folder), so no update is lost.
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
// WriteSettings to files.Write, which first becomes a copy of files.Shipped when it does
// not exist yet.
bool WriteStationSettings(const SettingsFiles& files, const std::vector<SettingChange>& changes);

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
