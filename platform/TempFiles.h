#pragma once
// The temporary folder and unique temporary files.
#include <string>

namespace tarnwick {

// TMPDIR (when set and not empty) or "/tmp", always with a trailing "/".
std::string GetTempFolder();
// Creates a new empty file folder + prefix + random part + ".tmp" with no race against other
// creators and returns its path; raises EFCreateError when it cannot.
std::string CreateTempFile(const std::string& folder, const std::string& prefix);

}  // namespace tarnwick
