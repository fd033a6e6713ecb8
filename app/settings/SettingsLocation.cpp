#include "app/settings/SettingsLocation.h"

#include <cstdio>

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "app/settings/AppPaths.h"
#include "platform/Exception.h"
#include "platform/Locale.h"

namespace tarnwick {

std::string SettingsFile;
bool SettingsFileGiven = false;

namespace {

constexpr const char* kDefaultLock = "ForwardMail";

std::string FolderOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

bool Exists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

// The places packages install programs into: root can write them, but settings do not belong there.
bool IsSystemFolder(const std::string& folder) {
    for (const char* prefix : {"/usr/", "/opt/", "/bin/", "/sbin/", "/lib/"}) {
        if (folder.rfind(prefix, 0) == 0) return true;
    }
    return false;
}

bool WritableFolder(const std::string& folder) {
    return !folder.empty() && !IsSystemFolder(folder) && ::access(folder.c_str(), W_OK | X_OK) == 0;
}

// $NAME when it is an absolute path, else the fallback below the home folder.
std::string XdgFolder(const TGetEnv& getEnv, const char* name, const char* underHome) {
    const char* value = getEnv(name);
    if (value && value[0] == '/') return value;
    const char* home = getEnv("HOME");
    return std::string(home && home[0] ? home : "/") + "/" + underHome;
}

// FNV-1a: a short, stable tag that tells settings files apart in a lock name.
std::string PathTag(const std::string& path) {
    uint64_t hash = 1469598103934665603ull;
    for (unsigned char c : path) {
        hash ^= c;
        hash *= 1099511628211ull;
    }
    static const char digits[] = "0123456789abcdef";
    std::string tag;
    for (int shift = 60; shift >= 0; shift -= 4) tag += digits[(hash >> shift) & 0xF];
    return tag;
}

std::string Absolute(const std::string& path) {
    std::error_code ec;
    std::filesystem::path p = std::filesystem::weakly_canonical(std::filesystem::absolute(path, ec), ec);
    if (ec) return path;
    return p.string();
}

void MakeFolder(const std::string& folder) {
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    if (ec || !std::filesystem::is_directory(folder, ec))
        throw Exception(Utf8ToCp932(folder) + " を作成できません");
}

}  // namespace

TSettingsLocation ResolveSettingsLocation(const std::string& exeFolder, const std::string& exeName,
                                          const std::string& configFile, const TGetEnv& getEnv) {
    TSettingsLocation location;
    const std::string beside = exeFolder + ChangeFileExt(exeName, ".ini");
    location.LockName = kDefaultLock;
    // Naming the usual file on the command line changes nothing: same lock, same ledgers.
    const std::string named = configFile.empty() ? std::string() : Absolute(configFile);
    if (!named.empty() && named != ResolveSettingsLocation(exeFolder, exeName, "", getEnv).SettingsFile) {
        location.SettingsFile = named;
        location.LedgerFolder = FolderOf(location.SettingsFile);
        location.Portable = true;
        location.LockName = std::string(kDefaultLock) + "-" + PathTag(location.SettingsFile);
    } else if (Exists(beside) || WritableFolder(exeFolder)) {
        location.SettingsFile = beside;
        location.Portable = true;
    } else {
        location.SettingsFile = XdgFolder(getEnv, "XDG_CONFIG_HOME", ".config") + "/tarnwick/tarnwick.ini";
        location.LedgerFolder = XdgFolder(getEnv, "XDG_DATA_HOME", ".local/share") + "/tarnwick";
    }
    return location;
}

void PrepareSettingsLocation(TSettingsLocation& location) {
    // The file holds passwords in plain text, beside the program or named with --config as well.
    struct stat st {};
    if (::lstat(location.SettingsFile.c_str(), &st) == 0 && S_ISREG(st.st_mode) && (st.st_mode & 077) != 0 &&
        st.st_uid == ::geteuid() && ::chmod(location.SettingsFile.c_str(), st.st_mode & 0700) == 0) {
        char modes[32];
        std::snprintf(modes, sizeof modes, "%04o→%04o", st.st_mode & 07777, st.st_mode & 0700);
        location.Tightened = "設定ファイルを他のユーザーが読めないようにしました(" + std::string(modes) + ")";
    }
    if (!location.Portable) {
        const std::string configFolder = FolderOf(location.SettingsFile);
        const bool fresh = !Exists(configFolder);
        MakeFolder(configFolder);
        if (fresh) ::chmod(configFolder.c_str(), 0700);
        const bool freshData = !Exists(location.LedgerFolder);
        MakeFolder(location.LedgerFolder);
        if (freshData) ::chmod(location.LedgerFolder.c_str(), 0700);
    }
    if (!location.LedgerFolder.empty() && ::chdir(location.LedgerFolder.c_str()) != 0)
        throw Exception(Utf8ToCp932(location.LedgerFolder) + " に移動できません: " + std::strerror(errno));
}

}  // namespace tarnwick
