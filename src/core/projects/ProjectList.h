// SPDX-License-Identifier: MIT
#pragma once
#include <string>
#include <vector>

#include "projects/Settings.h"

namespace ps {

// Keys of the project list in PROGRAMMER.INI.
constexpr const char* SettingsSectionProjects = "PROJECTS";
constexpr const char* SettingsKeyProject = "Project";  // followed by the position 1, 2, ...
constexpr const char* SettingsKeyVersion = "Version";
constexpr const char* SettingsKeySelectedFile = "SelectedFile";
// Not read by the projects dialog: "1" keeps the main window's "Projects" button shown.
constexpr const char* SettingsKeyShowProjects = "ShowProjects";
// Entry formats: "2" number, blank, name, ":" and file (read only); "3" the "~" fields.
constexpr const char* ProjectVersion2 = "2";
constexpr const char* ProjectVersion3 = "3";
constexpr const char* ProjectVersionDefault = "1";
// The name of a folder made with "Add Folder".
constexpr const char* NewFolderName = "???";
// Shortcut numbers are stored with exactly this many characters.
constexpr size_t ProjectNumberWidth = 3;

// One node of the projects tree. A folder has neither number nor step file.
struct ProjectNode {
    int Id = 0;     // stable while the tree lives, > 0
    int Level = 0;  // depth in the tree: 0 at the top
    std::string Number;
    std::string Name;
    std::string Path;
    bool IsFolder() const { return Number.empty() && Path.empty(); }
};

// The projects tree, kept in tree order (a node, then its children, depth first) with each
// node's depth, which is also the order and the levels it is stored in.
class ProjectTree {
public:
    void Clear() { nodes_.clear(); }
    int Count() const { return static_cast<int>(nodes_.size()); }
    const std::vector<ProjectNode>& Nodes() const { return nodes_; }
    const ProjectNode* Find(int id) const;
    int IndexOf(int id) const;   // -1 when absent
    int ParentOf(int id) const;  // 0 for a top-level node or an absent one
    // Whether `id` is `ancestor` itself or lies below it.
    bool IsWithin(int id, int ancestor) const;

    // Adds a node as the last child of `parent` (0: at the top); returns its id.
    int Add(int parent, const std::string& number, const std::string& name,
            const std::string& path);
    // Adds a node read from the settings file with its stored level: below the previous
    // node's ancestry as deep as the level asks, never more than one level deeper than the
    // previous node; a level that is not a whole number, or one above 0 with no node
    // before it, puts the node at the top.
    int AddStored(const std::string& level, const std::string& number, const std::string& name,
                  const std::string& path);
    void Update(int id, const std::string& number, const std::string& name,
                const std::string& path);
    void Rename(int id, const std::string& name);
    // Removes the node and everything below it.
    void Remove(int id);
    // Moves the node with everything below it to the end of `parent`'s children (0: the
    // end of the top level). A move into the node itself or below it is refused: false.
    bool MoveUnder(int id, int parent);

private:
    int SubtreeEnd(int index) const;  // one past the node's last descendant
    int Insert(int parent, ProjectNode node);

    std::vector<ProjectNode> nodes_;
    int nextId_ = 1;
};

// The project list as PROGRAMMER.INI holds it.
struct ProjectSettings {
    std::string Version;  // as read, "1" when missing
    ProjectTree Tree;
    int SelectedPosition = 0;  // 1-based in tree order; 0 none (also for a value not a number)
    std::string ExtraParameters;
};

// Reads the list: Version "2" entries at the top, Version "3" entries into a tree, no
// entries with any other version; the list ends at the first missing or empty key.
ProjectSettings LoadProjectSettings(const std::string& iniPath);

// One "~" entry of the stored list: level~number~name~path~. A "~" or a line break inside a
// field would change the fields read back, so each becomes a blank.
std::string FormatProjectEntry(const ProjectNode& node);

// Writes the tree as entries 1..N, an empty entry N + 1 (so a longer older list ends there),
// SelectedFile (the position, 0 without a selection), ExtraParameters and Version "3", in
// one replacement of the station's settings file (files.Write, which starts as a copy of
// the shipped file). False when the file could not be written.
bool SaveProjectSettings(const SettingsFiles& files, const ProjectTree& tree, int selectedPosition,
                         const std::string& extraParameters);

// The shortcut proposed for a new project: the highest number stored in the settings file
// (not in the tree) plus one, zero-filled to three digits; numbers that are empty or not
// whole numbers are passed over.
std::string ProposeProjectNumber(const std::string& iniPath);

// A shortcut as it is stored: zero-filled to at least three characters, then cut to three.
std::string PadProjectNumber(const std::string& number);

// [INIT] "ShowProjects" = "1": the main window offers its "Projects" button.
bool ProjectsButtonWanted(const std::string& iniPath);

}  // namespace ps
