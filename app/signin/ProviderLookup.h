#pragma once
// The servers of an address: the provider table shipped with the program, then the provider's own
// settings document at https://autoconfig.<domain>/mail/config-v1.1.xml, then at
// https://<domain>/.well-known/autoconfig/mail/config-v1.1.xml.
#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "app/settings/Settings.h"

namespace tarnwick {

class TMailAbort;

class TProviderLookup {
public:
    // Replaces "https://autoconfig.<domain>" and "https://<domain>" when set (a test's server).
    std::string BaseUrl;
    // Per request: a provider without a document must not keep the user waiting.
    int TimeoutMs = 5000;
    // The table file; empty: ProviderTablePath().
    std::string TablePath;
    // What was found where, or why nothing was; in the log's code page.
    std::function<void(const std::string& line)> OnLog;

    // The fields for address; nullopt (with a log line saying why) when nothing was found, the
    // address has no domain, or the abort of this thread's scope ended the lookup.
    std::optional<TProviderFill> Lookup(const std::string& address);

private:
    void Log(const std::string& line) const;
    std::optional<TProviderSettings> FromTable(const std::string& domain);
    std::optional<TMailProviderTable> table_;
    bool tableRead_ = false;
};

// One lookup on a thread of its own, so that a window answers meanwhile. Destroying it stops the
// lookup (a request under way ends at once) and waits for its thread.
class TProviderLookupTask {
public:
    // done gets the result on the lookup's thread, as its last step; the lookup's OnLog is called
    // there too.
    using TDone = std::function<void(const std::optional<TProviderFill>& fill)>;
    TProviderLookupTask(TProviderLookup lookup, std::string address, TDone done);
    ~TProviderLookupTask();
    TProviderLookupTask(const TProviderLookupTask&) = delete;
    TProviderLookupTask& operator=(const TProviderLookupTask&) = delete;

    bool Finished() const { return finished_; }

private:
    std::unique_ptr<TMailAbort> abort_;
    std::atomic<bool> finished_{false};
    std::thread thread_;
};

}  // namespace tarnwick
