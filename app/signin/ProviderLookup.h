#pragma once
// The servers of an address: the provider table shipped with the program, then the provider's own
// settings document at https://autoconfig.<domain>/mail/config-v1.1.xml, then at
// https://<domain>/.well-known/autoconfig/mail/config-v1.1.xml.
#include <functional>
#include <optional>
#include <string>

#include "app/settings/Settings.h"

namespace tarnwick {

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

}  // namespace tarnwick
