#include "platform/TempFiles.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <unistd.h>
#include <vector>

#include "platform/Exception.h"
#include "platform/Streams.h"

namespace tarnwick {

std::string GetTempFolder() {
    const char* dir = std::getenv("TMPDIR");
    std::string folder = (dir != nullptr && *dir != '\0') ? dir : "/tmp";
    if (folder.back() != '/') folder += '/';
    return folder;
}

std::string CreateTempFile(const std::string& folder, const std::string& prefix) {
    static constexpr char kSuffix[] = ".tmp";
    std::string pattern = folder + prefix + "XXXXXX" + kSuffix;
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    // mkstemps creates the file exclusively, so the name is ours alone once it returns.
    int fd = mkstemps(buffer.data(), static_cast<int>(sizeof kSuffix - 1));
    if (fd < 0) {
        const char* reason = std::strerror(errno);
        throw EFCreateError(Format("ファイル %s を作成できません。%s", ExpandFileName(pattern).c_str(), reason));
    }
    ::close(fd);
    return std::string(buffer.data());
}

}  // namespace tarnwick
