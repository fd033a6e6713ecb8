#pragma once
// Base of the network components: status and work-progress events, and the lifetime of the
// process-wide socket stack (created with the first component, freed with the last).
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace tarnwick {

class TMailStack;

enum class TMailStatus {
    hsResolving,
    hsConnecting,
    hsConnected,
    hsDisconnecting,
    hsDisconnected,
    hsStatusText,
    ftpTransfer,
    ftpReady,
    ftpAborted
};

enum class TWorkMode { wmRead, wmWrite };

class TMailComponent;
using TMailStatusEvent = std::function<void(TMailComponent& sender, TMailStatus status, const std::string& text)>;
using TWorkBeginEvent = std::function<void(TMailComponent& sender, TWorkMode mode, int32_t workCountMax)>;
using TWorkEvent = std::function<void(TMailComponent& sender, TWorkMode mode, int32_t workCount)>;
using TWorkEndEvent = std::function<void(TMailComponent& sender, TWorkMode mode)>;
using TNotifyEvent = std::function<void(TMailComponent& sender)>;

class TMailComponent {
public:
    TMailComponent();
    virtual ~TMailComponent();
    TMailComponent(const TMailComponent&) = delete;
    TMailComponent& operator=(const TMailComponent&) = delete;

    // Formats the status's text with arg (where it has a "%s") and calls OnStatus, if assigned.
    void ReportStatus(TMailStatus status, const std::string& arg = {});
    static std::string StatusText(TMailStatus status, const std::string& arg = {});

    // Nested sections of one mode fire OnWorkBegin / OnWorkEnd once; OnWork gets the running total.
    virtual void StartWork(TWorkMode mode, int32_t workCountMax = 0);
    virtual void AddWork(TWorkMode mode, int32_t count);
    virtual void FinishWork(TWorkMode mode);

    std::string LocalHostName();
    TMailStack& Stack();

    // Components that must forget this one when it is destroyed (a connection and its transport).
    void FreeNotification(TMailComponent* other);
    void RemoveFreeNotification(TMailComponent* other);

    TMailStatusEvent OnStatus;
    TWorkBeginEvent OnWorkBegin;
    TWorkEvent OnWork;
    TWorkEndEvent OnWorkEnd;

    // Number of live components (the stack exists while it is above 0).
    static int LiveComponents();

protected:
    // Called on a component that asked to be told of other's destruction.
    virtual void Notification(TMailComponent* destroyed) { (void)destroyed; }

private:
    struct WorkSection {
        int32_t open = 0;
        int32_t max = 0;
        int32_t total = 0;
    };
    WorkSection work_[2];
    std::vector<TMailComponent*> notifies_;
};

}  // namespace tarnwick
