#pragma once
// A per-user name that only one holder at a time can own; marks the one running instance.
#include <memory>
#include <string>

#include "platform/Exception.h"

namespace tarnwick {

// The lock cannot be had safely: its folder or file cannot be created, or belongs to someone else.
class ENamedMutexError : public Exception {
public:
    using Exception::Exception;
};

class TNamedMutex {
public:
    // The name's owner, or nullptr when another holder (in this process or another one) has it.
    // Testing and taking the name is one step, so two starting processes cannot both win.
    // Raises ENamedMutexError when the lock file cannot be created or is not ours: another user
    // must not be able to keep the program from starting by planting it.
    static std::unique_ptr<TNamedMutex> TryCreate(const std::string& name);
    ~TNamedMutex();

    TNamedMutex(const TNamedMutex&) = delete;
    TNamedMutex& operator=(const TNamedMutex&) = delete;

    // The lock file that stands for the name: in $XDG_RUNTIME_DIR when that is a folder of ours
    // closed to others, else in tarnwick-<uid>/ under $TMPDIR (or /tmp).
    static std::string LockPath(const std::string& name);

private:
    explicit TNamedMutex(int fd) : fd_(fd) {}
    int fd_;
};

}  // namespace tarnwick
