#include "app/HeadlessSignIn.h"

#include <QEventLoop>
#include <QTimer>

#include "app/signin/SignIn.h"

namespace tarnwick {

bool SignInWithoutDisplay(const TOAuthProvider& provider, const std::function<void(const std::string&)>& print,
                          const std::function<bool()>& cancelled, TOAuthTokens& tokens) {
    if (provider.ClientId.empty()) {
        print("クライアントIDが設定されていません");
        return false;
    }
    if (!provider.DeviceUrl.empty()) {
        TOAuthTokenClient client(provider);
        const TOAuthTokens answer = RunDeviceFlow(
            client,
            [&](const std::string& uri, const std::string& code) {
                print("ブラウザで次のページを開き、コードを入力してください: " + uri);
                print("コード: " + code);
            },
            cancelled);
        if (!answer.Ok()) {
            print("サインインできませんでした(" + answer.Error + ")");
            return false;
        }
        tokens = answer;
        print("サインインしました");
        return true;
    }
    TOAuthSignIn signIn(provider);
    QEventLoop loop;
    bool ok = false, done = false;
    signIn.OnFinished = [&](bool success, const TOAuthTokens& got, const std::string& reason) {
        ok = success;
        done = true;
        if (success) tokens = got;
        print(success ? std::string("サインインしました") : reason);
        loop.quit();
    };
    const std::string url = signIn.Start();
    if (url.empty()) return false;
    print("ブラウザで次のURLを開いてサインインしてください(このコンピュータ上のブラウザで):");
    print(url);
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (cancelled && cancelled()) signIn.Cancel();
    });
    poll.start(200);
    if (!done) loop.exec();
    return ok;
}

}  // namespace tarnwick
