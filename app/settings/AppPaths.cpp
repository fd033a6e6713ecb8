#include "app/settings/AppPaths.h"

#include <unistd.h>

#include <vector>

namespace tarnwick {

std::string ExeName;
std::string ExePath;

std::string ExeFullPath() {
    std::vector<char> buffer(4096);
    const ssize_t length = readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (length <= 0 || static_cast<size_t>(length) >= buffer.size()) return {};
    return std::string(buffer.data(), static_cast<size_t>(length));
}

void SetExePaths(const std::string& fullPath) {
    const size_t slash = fullPath.rfind('/');
    if (slash == std::string::npos) {
        ExePath.clear();
        ExeName = fullPath;
    } else {
        ExePath = fullPath.substr(0, slash + 1);
        ExeName = fullPath.substr(slash + 1);
    }
}

std::string ChangeFileExt(const std::string& name, const std::string& ext) {
    const size_t slash = name.rfind('/');
    const size_t dot = name.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return name + ext;
    return name.substr(0, dot) + ext;
}

}  // namespace tarnwick
