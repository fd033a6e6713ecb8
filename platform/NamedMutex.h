#pragma once
// A per-user name that only one holder at a time can own; marks the one running instance.
#include <memory>
#include <string>

namespace tarnwick {

class TNamedMutex {
public:
    // The name's owner, or nullptr when another holder (in this process or another one) has it.
    // Testing and taking the name is one step, so two starting processes cannot both win.
    static std::unique_ptr<TNamedMutex> TryCreate(const std::string& name);
    ~TNamedMutex();

    TNamedMutex(const TNamedMutex&) = delete;
    TNamedMutex& operator=(const TNamedMutex&) = delete;

    // The lock file that stands for the name.
    static std::string LockPath(const std::string& name);

private:
    explicit TNamedMutex(int fd) : fd_(fd) {}
    int fd_;
};

}  // namespace tarnwick
