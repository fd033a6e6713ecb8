#pragma once
// Where the program lives: the executable's file name and folder, set once when the window is made.
#include <string>

namespace tarnwick {

// File name with extension, without folder.
extern std::string ExeName;
// Folder with a trailing delimiter.
extern std::string ExePath;

// Full path of the running executable (empty when the system does not tell).
std::string ExeFullPath();
// Fills ExeName and ExePath from a full path.
void SetExePaths(const std::string& fullPath);
// name with the text after its last dot replaced by ext (which starts with the dot); a name
// without a dot gets ext appended.
std::string ChangeFileExt(const std::string& name, const std::string& ext);

}  // namespace tarnwick
