// The bookkeeping of one forwarding cycle for a large mailbox: from the unique-id listing to the
// numbers of the new messages, with the ledger loaded from disk and, when there is something new,
// the first ledger save (a full rewrite with fsync). Must stay in the milliseconds for 100,000 ids.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/cycle/Ledger.h"
#include "platform/StringList.h"

using namespace tarnwick;

namespace {

constexpr int kOnServer = 100000;

// Ids shaped like Dovecot's (UID and UIDVALIDITY in hexadecimal).
std::string IdOf(int i) {
    char id[32];
    std::snprintf(id, sizeof id, "%08X%08X", 1000 + i, 0x5F3A9C21);
    return id;
}

// A private working folder holding the ledger of everything but the last newCount messages.
class Mailbox {
public:
    explicit Mailbox(int newCount) {
        char pattern[] = "/tmp/tarnwick-bench-XXXXXX";
        if (::mkdtemp(pattern) == nullptr) std::abort();
        dir_ = pattern;
        if (::getcwd(old_, sizeof old_) == nullptr || ::chdir(dir_.c_str()) != 0) std::abort();
        TStringList ledger;
        for (int i = 1; i <= kOnServer; ++i) {
            listing.Add(std::to_string(i) + " " + IdOf(i));
            if (i <= kOnServer - newCount) ledger.Add(IdOf(i));
        }
        ledger.Add("gone-from-the-server");  // pruned on the way
        ledger.SaveToFile(LedgerFileName(kAddress));
    }
    ~Mailbox() {
        if (::chdir(old_) != 0) std::abort();
        std::system(("rm -rf '" + dir_ + "'").c_str());
    }

    static constexpr const char* kAddress = "taro@docomo.ne.jp";
    TStringList listing;

private:
    std::string dir_;
    char old_[4096];
};

void BM_CycleBookkeeping(benchmark::State& state) {
    const int newCount = static_cast<int>(state.range(0));
    Mailbox box(newCount);
    for (auto _ : state) {
        TStringList ledger;
        LoadLedger(Mailbox::kAddress, ledger);
        const TCyclePlan plan = PlanCycle(ParseListing(box.listing), ledger);
        if (static_cast<int>(plan.New.size()) != newCount) state.SkipWithError("wrong count of new messages");
        if (newCount > 0) {
            // The first save of a cycle, into another file so every round starts alike.
            ledger.Add(plan.New[0].Id);
            TLedgerWriter writer("saved");
            writer.SaveLedger(ledger);
        }
        benchmark::DoNotOptimize(plan);
    }
    state.counters["ids"] = kOnServer;
}

}  // namespace

BENCHMARK(BM_CycleBookkeeping)->ArgName("new")->Arg(0)->Arg(1000)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
