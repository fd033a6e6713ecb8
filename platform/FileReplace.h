#pragma once
// Replacing a file whole: the new content goes to a temporary file beside the target (created
// exclusively, with the mode asked for), is synced, renamed over the target, and the folder is
// synced; a crash or a full disk leaves either the old or the new file, never a torn one.
//
// Temporary files are named <target>.tmp-XXXXXX and held under an advisory lock while they live;
// one nobody holds (left by a killed run) is removed when the same target is next written.
#include <sys/types.h>

#include <string>
#include <string_view>

namespace tarnwick {

class TFileReplacement {
public:
    // Creates the temporary file; mode is set exactly (no umask). Raises EFCreateError
    // ("ファイル %s を作成できません。%s", the target's full path and the system's reason).
    explicit TFileReplacement(std::string target, mode_t mode = 0600);
    // Removes the temporary file unless it was committed.
    ~TFileReplacement();
    TFileReplacement(const TFileReplacement&) = delete;
    TFileReplacement& operator=(const TFileReplacement&) = delete;

    // Sets aside disk space for bytes without changing the size, so that a later Write cannot
    // meet a full disk. Raises EFCreateError when the room is not there.
    void Reserve(off_t bytes);
    // Appends to the temporary file. Raises EWriteError ("ファイル %s に書き込めません。%s").
    void Write(std::string_view data);
    // Syncs, renames over the target and syncs the folder. Raises EWriteError for a failed sync
    // and EFCreateError for a failed rename; the target is then untouched.
    void Commit();
    // After Commit: the descriptor, open for writing on what is now the target; the caller owns it.
    int ReleaseDescriptor();
    // Before Commit: the descriptor of the temporary file (to change its owner, say).
    int Descriptor() const { return fd_; }
    const std::string& Target() const { return target_; }

private:
    std::string target_;
    std::string temp_;
    int fd_ = -1;
    bool committed_ = false;
};

// Writes data as the whole new content of path (see TFileReplacement).
void ReplaceFile(const std::string& path, std::string_view data, mode_t mode = 0600);

// The path as the user must look for it: relative paths are made absolute.
std::string FullFilePath(const std::string& path);

}  // namespace tarnwick
