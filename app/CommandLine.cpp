#include "app/CommandLine.h"

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

std::string UsageText(const std::string& program) {
    return "Usage: " + program + " [--once | --watch | --authorize] [--config FILE]\n"
           "Forwards new mail from one POP3 mailbox to one address through an SMTP server.\n"
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
           "Log lines go to standard output.\n";
}

}  // namespace tarnwick
