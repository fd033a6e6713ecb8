#include "platform/TempFiles.h"

namespace tarnwick {

std::string GetTempFolder() { return "/tmp/"; }
std::string CreateTempFile(const std::string& folder, const std::string& prefix) { return folder + prefix; }

}  // namespace tarnwick
