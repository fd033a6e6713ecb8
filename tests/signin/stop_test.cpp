// The stop of a run reaches the outside waits of the sign-in: a token request that gets no answer
// ends when the abort is set off, and a reply that never ends is cut at its bound while it is read.
#include <gtest/gtest.h>

#include <QCoreApplication>

#include <atomic>
#include <thread>

#include "app/signin/OAuthTokens.h"
#include "net/MailAbort.h"
#include "support/TokenEndpoint.h"

namespace tarnwick::test {
namespace {

TEST(StopReachesTokenRequests, AStalledRequestEndsOnTheAbortAndAnEndlessReplyAtItsBound) {
    static int argc = 1;
    static char name[] = "signin_tests";
    static char* argv[] = {name, nullptr};
    if (QCoreApplication::instance() == nullptr) new QCoreApplication(argc, argv);
    struct Case {
        const char* name;
        TokenEndpoint::Replies reply;
        bool stop;  // set off the abort once the request has arrived
        const char* error;
    };
    const Case cases[] = {
        {"stalled, stopped", TokenEndpoint::Replies::Stall, true, "Aborted."},
        {"endless", TokenEndpoint::Replies::Endless, false, "reply larger than 1 MiB"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TokenEndpoint idp(TokenSigner{"k", "https://idp.test", "tarnwick-test", "k1"});
        idp.Reply = c.reply;
        idp.Start();
        TOAuthProvider provider;
        provider.TokenUrl = idp.Url("/token");
        provider.ClientId = "tarnwick-test";
        TOAuthTokenClient client(provider);
        client.TimeoutMs = 10 * 60 * 1000;  // only the abort or the bound may end it
        TMailAbort abort;
        std::atomic<bool> done{false};
        std::thread stopper([&] {
            while (c.stop && !done && idp.Requests("refresh_token") == 0) std::this_thread::yield();
            if (c.stop) abort.Abort();
        });
        TOAuthTokens answer;
        {
            TAbortScope scope(abort);
            answer = client.Refresh("refresh-1");
        }
        done = true;
        stopper.join();
        EXPECT_FALSE(answer.Ok());
        EXPECT_EQ(answer.Error, c.error);
    }
    // Once stopped, no request is made at all.
    TMailAbort stopped;
    stopped.Abort();
    TAbortScope scope(stopped);
    TOAuthProvider nowhere;
    nowhere.TokenUrl = "https://idp.invalid/token";
    EXPECT_EQ(TOAuthTokenClient(nowhere).Refresh("r").Error, "Aborted.");
}

}  // namespace
}  // namespace tarnwick::test
