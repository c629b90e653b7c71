#pragma once
#include <string>

#include "projects/CurrentProject.h"

namespace ps {

constexpr const char* SettingsFileName = "PROGRAMMER.INI";

// Where PROGRAMMER.INI lives: `override` when given (--ini); else the program's folder when
// it can be written (a copied folder is a portable station); else
// $XDG_CONFIG_HOME/progstation/PROGRAMMER.INI (default ~/.config/progstation/...).
std::string LocateSettingsFile(const std::string& programFolder, const std::string& override);

// One key of the settings file each; section and key names compare without case, blanks
// around a value are dropped, values are cut to 2047 characters, a missing file or key
// gives the default.
std::string ReadSetting(const std::string& iniPath, const std::string& section,
                        const std::string& key, const std::string& defaultValue);
// Keeps every other line as it was and replaces the file atomically. Failures are not
// shown to the operator; false tells a caller that wants to know.
bool WriteSetting(const std::string& iniPath, const std::string& section, const std::string& key,
                  const std::string& value);

// Field k (from 1) of a text whose fields are separated by `separator`; empty when absent.
std::string GetField(const std::string& text, int k, char separator);

// The current project: always "UPGRADE" with "upgrade.cfg", whatever the number, and the
// extra parameters of [INIT] "ExtraParameters".
CurrentProject SelectCurrentProject(const std::string& iniPath, int projectNumber = 0);

}  // namespace ps
