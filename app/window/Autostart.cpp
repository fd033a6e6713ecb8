#include "app/window/Autostart.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "platform/Exception.h"
#include "platform/FileReplace.h"
#include "platform/Locale.h"

namespace tarnwick {

namespace {

// The entry format's string escapes; a line break cannot be written in a value at all.
std::string EscapeValue(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '\n' || c == '\r') throw Exception("改行を含むパスは自動起動に登録できません");
        if (c == '\\') out += '\\';
        out += c;
    }
    return out;
}

[[noreturn]] void Fail(const std::string& path, const char* what, int error) {
    throw Exception(Utf8ToCp932(path) + " " + what + "。" + std::strerror(error));
}

}  // namespace

std::string AutostartFile(const TGetEnv& getEnv) {
    const char* config = getEnv("XDG_CONFIG_HOME");
    std::string folder;
    if (config && config[0] == '/') {
        folder = config;
    } else {
        const char* home = getEnv("HOME");
        folder = std::string(home && home[0] ? home : "") + "/.config";
    }
    return folder + "/autostart/tarnwick.desktop";
}

bool AutostartEnabled(const std::string& entryFile) { return ::access(entryFile.c_str(), F_OK) == 0; }

std::string DesktopExecArg(const std::string& arg) {
    // Quoted, with the four characters that keep a meaning inside quotes escaped; then the
    // value-level escape doubles every backslash, and a percent sign is doubled for the field codes.
    std::string quoted = "\"";
    for (char c : arg) {
        if (c == '"' || c == '`' || c == '$' || c == '\\') quoted += '\\';
        quoted += c;
    }
    quoted += '"';
    std::string out;
    for (char c : EscapeValue(quoted)) {
        out += c;
        if (c == '%') out += '%';
    }
    return out;
}

void EnableAutostart(const std::string& entryFile, const std::string& program, const std::string& configFile,
                     const std::string& workFolder) {
    std::string exec = DesktopExecArg(program);
    if (!configFile.empty()) exec += " --config " + DesktopExecArg(configFile);
    const std::string text = "[Desktop Entry]\n"
                             "Type=Application\n"
                             "Name=Tarnwick\n"
                             "Comment=Forward new mail from a POP3 mailbox to your phone\n"
                             "Comment[ja]=\xE6\x96\xB0\xE7\x9D\x80\xE3\x83\xA1\xE3\x83\xBC\xE3\x83\xAB\xE3\x82\x92"
                             "\xE6\x90\xBA\xE5\xB8\xAF\xE9\x9B\xBB\xE8\xA9\xB1\xE3\x81\xB8\xE8\xBB\xA2\xE9\x80\x81\n"
                             "Exec=" + exec + "\n"
                             "Path=" + EscapeValue(workFolder) + "\n"
                             "Icon=tarnwick\n"
                             "Terminal=false\n"
                             "X-GNOME-Autostart-enabled=true\n";
    const std::filesystem::path target(entryFile);
    std::error_code ec;
    std::filesystem::create_directories(target.parent_path(), ec);
    try {
        ReplaceFile(entryFile, text, 0600);
    } catch (const EFCreateError&) {
        Fail(entryFile, "を作成できません", errno);
    } catch (const EWriteError&) {
        Fail(entryFile, "に書き込めません", errno);
    }
}

void DisableAutostart(const std::string& entryFile) {
    if (::unlink(entryFile.c_str()) != 0 && errno != ENOENT) Fail(entryFile, "を削除できません", errno);
}

}  // namespace tarnwick
