#include "app/CommandLine.h"

#include <cstdlib>

#include "platform/Locale.h"

namespace tarnwick {

TCommandLine ParseCommandLine(const std::vector<std::string>& args) {
    TCommandLine line;
    auto setMode = [&](TRunMode mode, const std::string& arg) {
        if (line.Mode != TRunMode::Window && line.Mode != mode) line.Error = arg + " cannot be combined with the other mode";
        line.Mode = mode;
    };
    for (size_t i = 0; i < args.size() && line.Error.empty(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--once") {
            setMode(TRunMode::Once, arg);
        } else if (arg == "--watch") {
            setMode(TRunMode::Watch, arg);
        } else if (arg == "--authorize") {
            setMode(TRunMode::Authorize, arg);
        } else if (arg == "--help" || arg == "-h") {
            line.Mode = TRunMode::Help;
            return line;
        } else if (arg == "--version" || arg == "-V") {
            line.Mode = TRunMode::Version;
            return line;
        } else if (arg == "--config") {
            if (i + 1 >= args.size() || args[i + 1].empty()) {
                line.Error = "--config needs a file name";
            } else {
                line.ConfigFile = args[++i];
            }
        } else if (arg.rfind("--config=", 0) == 0) {
            line.ConfigFile = arg.substr(9);
            if (line.ConfigFile.empty()) line.Error = "--config needs a file name";
        } else if (arg.rfind("--", 0) == 0 || arg.empty() || arg[0] != '-') {
            line.Error = "unknown argument: " + arg;
        } else if (i + 1 < args.size() && args[i + 1].rfind("-", 0) != 0) {
            ++i;  // a toolkit option with its value
        }
    }
    return line;
}

std::string UsageLocale() {
    // The first of these that is set decides, as for every other program's messages.
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = std::getenv(name);
        if (value && *value) return value;
    }
    return {};
}

namespace {

std::string JapaneseUsage(const std::string& program) {
    return "使い方: " + program + " [--once | --watch | --authorize] [--config ファイル]\n"
           "1つのメールボックス(POP3またはIMAP)の新着メールを、SMTPサーバ経由で1つのアドレスへ転送します。\n"
           "\n"
           "オプションなしでは設定ウィンドウが開き(ディスプレイが必要)、通知領域に常駐します。\n"
           "\n"
           "  --once            保存された設定で転送を1回行って終了します。終了コード:\n"
           "                    0 新着をすべて転送、1 スキップまたは再送待ちのメールあり\n"
           "                    (次回また試します)、2 ログイン・設定・転送の失敗、\n"
           "                    または同じ設定の別のインスタンスが動作中\n"
           "  --watch           ディスプレイなしで、起動時とその後の監視間隔ごとに転送します。\n"
           "                    SIGTERM か SIGINT で、転送中のメールを終えてから終了します\n"
           "  --authorize       OAuth 2.0 (Microsoft、Google など) に設定したサーバに\n"
           "                    ディスプレイなしでサインインします。任意のブラウザで入力する\n"
           "                    ページとコード、またはこのマシンのブラウザで開く URL を表示します\n"
           "  --config ファイル 設定ファイルを指定します。転送済みIDの記録はその隣に置かれ、\n"
           "                    設定ファイルごとに多重起動の防止が働きます\n"
           "  -h, --help        この説明を表示します\n"
           "  -V, --version     バージョンを表示します\n"
           "\n"
           "設定ファイル: 実行ファイルのフォルダが書き込み可能か既にファイルがあればその隣、\n"
           "なければ $XDG_CONFIG_HOME/tarnwick/tarnwick.ini (記録は $XDG_DATA_HOME/tarnwick)。\n"
           "パスワードと更新トークンは、キーリングがあればそこに保存できます(設定ウィンドウの\n"
           "「パスワードをキーリングに保存」)。転送するメールの大きさの上限と、ヘッダによる\n"
           "転送ルールは「詳細設定...」で決めます。\n"
           "ログは標準出力に出ます。詳しくは man tarnwick を参照してください。\n";
}

}  // namespace

std::string UsageText(const std::string& program) { return UsageText(program, UsageLocale()); }

std::string UsageText(const std::string& program, const std::string& locale) {
    if (locale.rfind("ja", 0) == 0) return Cp932ToUtf8(JapaneseUsage(program));
    return Cp932ToUtf8("Usage: " + program + " [--once | --watch | --authorize] [--config FILE]\n"
           "Forwards new mail from one POP3 or IMAP mailbox to one address through an SMTP server.\n"
           "\n"
           "Without options the settings window starts (a display is needed) and the program\n"
           "lives in the notification area.\n"
           "\n"
           "  --once         run one forwarding cycle with the stored settings and exit:\n"
           "                 0 everything new was forwarded, 1 some message was skipped\n"
           "                 (it is offered again next time), 2 a login, the settings or the\n"
           "                 cycle failed, or another instance holds the same settings\n"
           "  --watch        forward at start and then every interval, without a display;\n"
           "                 SIGTERM or SIGINT ends it after the message in flight\n"
           "  --authorize    sign in to the servers set to OAuth 2.0 (Microsoft, Google, ...)\n"
           "                 without a display: prints a page and a code to enter in any\n"
           "                 browser, or a URL to open in a browser on this machine\n"
           "  --config FILE  use FILE as the settings file; the ledgers of forwarded ids go\n"
           "                 beside it, and it has its own single-instance lock\n"
           "  -h, --help     show this text\n"
           "  -V, --version  show the version\n"
           "\n"
           "Settings: beside the executable when that folder is writable or already holds the\n"
           "file, else $XDG_CONFIG_HOME/tarnwick/tarnwick.ini (ledgers in $XDG_DATA_HOME/tarnwick).\n"
           "Passwords and refresh tokens can be kept in the desktop keyring (the check box\n"
           "パスワードをキーリングに保存); a size limit and rules by header are set in 詳細設定.\n"
           "Log lines go to standard output. See man tarnwick.\n");
}

}  // namespace tarnwick
