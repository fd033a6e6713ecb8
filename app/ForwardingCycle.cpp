#include "app/ForwardingCycle.h"

// Placeholder until the real cycle lands: logs that it ran.
namespace tarnwick {

struct TForwardingCycle::Impl {};

TForwardingCycle::TForwardingCycle(TAddLog addLog) : addLog_(std::move(addLog)), impl_(std::make_unique<Impl>()) {}
TForwardingCycle::~TForwardingCycle() = default;

void TForwardingCycle::ForwardNewMail(const TServerSettings&, const std::string&) {}

}  // namespace tarnwick
