#pragma once
// The forwarding cycle and the connection test, and the report of how a cycle ended.
// What the other rooms may use of this one.
#include "app/cycle/ForwardingCycle.h"
#include "app/cycle/CycleReport.h"
#include "app/cycle/CycleSteps.h"
#include "app/cycle/ErrorHints.h"
#include "app/cycle/ImapWatch.h"
