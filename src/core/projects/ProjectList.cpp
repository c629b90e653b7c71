// SPDX-License-Identifier: MIT
#include "projects/ProjectList.h"

#include <algorithm>
#include <charconv>
#include <unordered_map>

namespace ps {

namespace {

constexpr int FieldLevel = 1;
constexpr int FieldNumber = 2;
constexpr char Version2NameEnd = ':';
constexpr size_t Version2NumberLength = 3;
constexpr const char* ShowProjectsOn = "1";
// Stored shortcuts beyond this are no shortcuts anyone typed; they are passed over.
constexpr long long HighestProjectNumber = 999999999;

// A whole decimal number and nothing else (an optional "-" included).
bool ParseWhole(const std::string& text, long long& value) {
    if (text.empty()) return false;
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, value);
    return ec == std::errc() && ptr == end;
}

std::string Trimmed(const std::string& s) {
    size_t b = s.find_first_not_of(" \t");
    if (b == std::string::npos) return {};
    size_t e = s.find_last_not_of(" \t");
    return s.substr(b, e - b + 1);
}

std::string LowerAscii(std::string s) {
    for (char& c : s) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return s;
}

// The stored "Project" entries of the file in order, up to the first missing or empty one.
std::vector<std::string> StoredEntries(const std::string& iniPath) {
    std::unordered_map<std::string, std::string> keys;
    for (auto& [key, value] : ReadSection(iniPath, SettingsSectionProjects)) {
        keys.emplace(LowerAscii(key), std::move(value));
    }
    const std::string prefix = LowerAscii(SettingsKeyProject);
    std::vector<std::string> entries;
    for (size_t i = 1;; ++i) {
        auto it = keys.find(prefix + std::to_string(i));
        if (it == keys.end() || it->second.empty()) break;
        entries.push_back(it->second);
    }
    return entries;
}

// Version "2": "001 NAME: file". The name loses the number and its blank when it is long
// enough to hold them; without a ":" the whole entry is the name.
void AddVersion2(ProjectTree& tree, const std::string& entry) {
    const std::string number = entry.substr(0, Version2NumberLength);
    const size_t colon = entry.find(Version2NameEnd);
    std::string name = Trimmed(entry.substr(0, colon));
    const std::string path = colon == std::string::npos ? "" : Trimmed(entry.substr(colon + 1));
    if (name.size() > Version2NumberLength) name.erase(0, Version2NumberLength + 1);
    tree.Add(0, number, name, path);
}

// A field as it may be stored between "~" separators.
std::string StorableField(std::string text) {
    for (char& c : text) {
        if (c == ProjectFieldSeparator || c == '\r' || c == '\n') c = ' ';
    }
    return text;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// ProjectTree

const ProjectNode* ProjectTree::Find(int id) const {
    int i = IndexOf(id);
    return i < 0 ? nullptr : &nodes_[i];
}

int ProjectTree::IndexOf(int id) const {
    if (id <= 0) return -1;
    for (int i = 0; i < Count(); ++i) {
        if (nodes_[i].Id == id) return i;
    }
    return -1;
}

int ProjectTree::ParentOf(int id) const {
    int i = IndexOf(id);
    if (i < 0) return 0;
    for (int j = i - 1; j >= 0; --j) {
        if (nodes_[j].Level < nodes_[i].Level) return nodes_[j].Id;
    }
    return 0;
}

bool ProjectTree::IsWithin(int id, int ancestor) const {
    int a = IndexOf(ancestor);
    int i = IndexOf(id);
    return a >= 0 && i >= a && i < SubtreeEnd(a);
}

int ProjectTree::SubtreeEnd(int index) const {
    int end = index + 1;
    while (end < Count() && nodes_[end].Level > nodes_[index].Level) ++end;
    return end;
}

int ProjectTree::Insert(int parent, ProjectNode node) {
    int at = Count();
    node.Level = 0;
    if (int p = IndexOf(parent); p >= 0) {
        at = SubtreeEnd(p);
        node.Level = nodes_[p].Level + 1;
    }
    node.Id = nextId_++;
    nodes_.insert(nodes_.begin() + at, std::move(node));
    return nodes_[at].Id;
}

int ProjectTree::Add(int parent, const std::string& number, const std::string& name,
                     const std::string& path) {
    return Insert(parent, ProjectNode{0, 0, number, name, path});
}

int ProjectTree::AddStored(const std::string& level, const std::string& number,
                           const std::string& name, const std::string& path) {
    long long stored = 0;
    int depth = 0;
    if (!nodes_.empty() && ParseWhole(level, stored) && stored > 0) {
        // Up from the previous node while its level is the stored one or more; the new node
        // becomes the last child of the node reached, so it is never more than one level
        // deeper than the previous node.
        depth = static_cast<int>(std::min<long long>(stored, nodes_.back().Level + 1LL));
    }
    ProjectNode node{nextId_++, depth, number, name, path};
    nodes_.push_back(std::move(node));
    return nodes_.back().Id;
}

void ProjectTree::Update(int id, const std::string& number, const std::string& name,
                         const std::string& path) {
    int i = IndexOf(id);
    if (i < 0) return;
    nodes_[i].Number = number;
    nodes_[i].Name = name;
    nodes_[i].Path = path;
}

void ProjectTree::Rename(int id, const std::string& name) {
    int i = IndexOf(id);
    if (i >= 0) nodes_[i].Name = name;
}

void ProjectTree::Remove(int id) {
    int i = IndexOf(id);
    if (i < 0) return;
    nodes_.erase(nodes_.begin() + i, nodes_.begin() + SubtreeEnd(i));
}

bool ProjectTree::MoveUnder(int id, int parent) {
    int i = IndexOf(id);
    if (i < 0) return false;
    if (parent != 0 && (IndexOf(parent) < 0 || IsWithin(parent, id))) return false;
    std::vector<ProjectNode> block(nodes_.begin() + i, nodes_.begin() + SubtreeEnd(i));
    nodes_.erase(nodes_.begin() + i, nodes_.begin() + SubtreeEnd(i));
    int at = Count();
    int depth = 0;
    if (int p = IndexOf(parent); p >= 0) {
        at = SubtreeEnd(p);
        depth = nodes_[p].Level + 1;
    }
    const int shift = depth - block.front().Level;
    for (ProjectNode& n : block) n.Level += shift;
    nodes_.insert(nodes_.begin() + at, block.begin(), block.end());
    return true;
}

// ---------------------------------------------------------------------------------------------
// Settings file

ProjectSettings LoadProjectSettings(const std::string& iniPath) {
    ProjectSettings s;
    s.Version =
        ReadSetting(iniPath, SettingsSectionInit, SettingsKeyVersion, ProjectVersionDefault);
    if (s.Version == ProjectVersion2 || s.Version == ProjectVersion3) {
        for (const std::string& entry : StoredEntries(iniPath)) {
            if (s.Version == ProjectVersion2) {
                AddVersion2(s.Tree, entry);
            } else {
                s.Tree.AddStored(GetField(entry, FieldLevel, ProjectFieldSeparator),
                                 GetField(entry, FieldNumber, ProjectFieldSeparator),
                                 GetField(entry, ProjectFieldName, ProjectFieldSeparator),
                                 GetField(entry, ProjectFieldPath, ProjectFieldSeparator));
            }
        }
    }
    long long selected = 0;
    if (ParseWhole(ReadSetting(iniPath, SettingsSectionInit, SettingsKeySelectedFile, "0"),
                   selected) &&
        selected >= 1 && selected <= s.Tree.Count()) {
        s.SelectedPosition = static_cast<int>(selected);
    }
    s.ExtraParameters = ReadSetting(iniPath, SettingsSectionInit, SettingsKeyExtraParameters, "");
    return s;
}

std::string FormatProjectEntry(const ProjectNode& node) {
    const std::string sep(1, ProjectFieldSeparator);
    return std::to_string(node.Level) + sep + StorableField(node.Number) + sep +
           StorableField(node.Name) + sep + StorableField(node.Path) + sep;
}

bool SaveProjectSettings(const SettingsFiles& files, const ProjectTree& tree, int selectedPosition,
                         const std::string& extraParameters) {
    std::vector<SettingChange> changes;
    int position = 0;
    for (const ProjectNode& node : tree.Nodes()) {
        changes.push_back({SettingsSectionProjects, SettingsKeyProject + std::to_string(++position),
                           FormatProjectEntry(node)});
    }
    changes.push_back(
        {SettingsSectionProjects, SettingsKeyProject + std::to_string(position + 1), ""});
    if (selectedPosition < 0 || selectedPosition > tree.Count()) selectedPosition = 0;
    std::string extra = extraParameters;
    std::replace_if(
        extra.begin(), extra.end(), [](char c) { return c == '\r' || c == '\n'; }, ' ');
    changes.push_back(
        {SettingsSectionInit, SettingsKeySelectedFile, std::to_string(selectedPosition)});
    changes.push_back({SettingsSectionInit, SettingsKeyExtraParameters, extra});
    changes.push_back({SettingsSectionInit, SettingsKeyVersion, ProjectVersion3});
    return WriteStationSettings(files, changes);
}

std::string ProposeProjectNumber(const std::string& iniPath) {
    long long highest = 0;
    for (const std::string& entry : StoredEntries(iniPath)) {
        long long n = 0;
        if (ParseWhole(GetField(entry, FieldNumber, ProjectFieldSeparator), n) && n > highest &&
            n <= HighestProjectNumber) {
            highest = n;
        }
    }
    std::string proposal = std::to_string(highest + 1);
    if (proposal.size() < ProjectNumberWidth) {
        proposal.insert(0, ProjectNumberWidth - proposal.size(), '0');
    }
    return proposal;
}

std::string PadProjectNumber(const std::string& number) {
    std::string padded = number;
    if (padded.size() < ProjectNumberWidth)
        padded.insert(0, ProjectNumberWidth - padded.size(), '0');
    return padded.substr(0, ProjectNumberWidth);
}

bool ProjectsButtonWanted(const std::string& iniPath) {
    return ReadSetting(iniPath, SettingsSectionInit, SettingsKeyShowProjects, "") == ShowProjectsOn;
}

}  // namespace ps
