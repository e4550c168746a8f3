// The command line, read without Qt: options are matched as bytes and item names are kept as given.
#include "CommandLine.h"

#include "DocumentController.h"

namespace tessarin {

QString helpText() {
    return QStringLiteral(
        "Usage: tessarin [ITEM...]\n"
        "       tessarin --report [--json[=VERSION]] [--online] [--components]\n"
        "                [--require WORD[,WORD...]] ITEM...\n"
        "       tessarin --help | --version\n"
        "\n"
        "Tells what kind of code a macOS item holds and how it is signed: a Mach-O file, an\n"
        "application bundle, a folder or an Installer package. Without --report each ITEM opens in\n"
        "a window of its own; with none, the start window opens.\n"
        "\n"
        "Options:\n"
        "  --report    inspect each ITEM off screen, wait for all of its checks and print the\n"
        "              report that Save Report would write; needs no display\n"
        "  --json, --json=VERSION\n"
        "              with --report: print one JSON array instead, one object per ITEM, in\n"
        "              schema version 1, or VERSION (1 or 2: 2 adds the item's structured\n"
        "              findings and its component tree; see the manual)\n"
        "  --online    with --report: also ask Apple's ticket service whether each ITEM is\n"
        "              notarized when no ticket is stapled (offline otherwise)\n"
        "  --components\n"
        "              with --report: follow each report with everything inside the ITEM, each\n"
        "              part with its kind, signer, team, runtime, notarization and problems\n"
        "  --require WORD[,WORD...]\n"
        "              with --report: a release gate. Each ITEM and everything inside it must\n"
        "              meet every WORD; each shortfall is named on standard error (item,\n"
        "              component, word) and the exit status is 4. The words: valid (the\n"
        "              report's signature verdict, and every component's signature), notarized,\n"
        "              hardened-runtime, no-32bit, no-adhoc, no-unsigned, team=TEAMID (all code\n"
        "              signed by that team), no-weakening-entitlements. May be repeated.\n"
        "  -h, --help  print this help and exit\n"
        "  --version   print the version and exit\n"
        "  --          end of the options: an ITEM that follows may begin with '-'\n"
        "\n"
        "Exit status:\n"
        "  0         every item was inspected (or the help or the version was printed)\n"
        "  1         an item does not exist; the others are still reported\n"
        "  2         the command line was wrong: an unknown option or --require word, an\n"
        "            option of --report's without it, or --report without an item\n"
        "  3         windows were asked for where no display can be reached\n"
        "  4         with --require: an item or a component fell short of a WORD, or an\n"
        "            item does not exist\n"
        "  130, 143  interrupted by SIGINT (Ctrl+C) or SIGTERM\n"
        "  141       the reader of the output went away (a closed pipe)\n"
        "\n"
        "The manual: Help > Tessarin Help, or man tessarin.\n");
}

QString versionText() { return QStringLiteral("tessarin " TESSARIN_VERSION "\n"); }

CommandLine parseCommandLine(const std::vector<std::string>& arguments) {
    CommandLine line;
    bool report = false;
    bool optionsEnded = false;
    QString reportOnly;  // the first option that needs --report
    auto needsReport = [&reportOnly](const char* option) {
        if (reportOnly.isEmpty()) reportOnly = QLatin1String(option);
    };
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (!optionsEnded && argument == "--") {
            optionsEnded = true;
        } else if (!optionsEnded && argument.size() > 1 && argument[0] == '-') {
            if (argument == "--report") {
                report = true;
            } else if (argument == "--json" || argument.rfind("--json=", 0) == 0) {
                line.json = true;
                needsReport("--json");
                if (argument == "--json=1" || argument == "--json=2") {
                    line.jsonVersion = argument.back() - '0';
                } else if (argument != "--json") {
                    line.mode = CommandLine::Mode::BadUsage;
                    line.problem = QStringLiteral("'%1' asks for an unknown JSON schema version (1 and 2 are known)")
                                       .arg(displayPathText(argument));
                    return line;
                }
            } else if (argument == "--online") {
                line.online = true;
                needsReport("--online");
            } else if (argument == "--components") {
                line.components = true;
                needsReport("--components");
            } else if (argument == "--require" || argument.rfind("--require=", 0) == 0) {
                needsReport("--require");
                const bool attached = argument != "--require";
                std::string problem;
                if (!attached && i + 1 == arguments.size())
                    problem = "--require needs a list of words";
                else
                    problem = addRequirements(line.gate, attached ? argument.substr(10) : arguments[++i]);
                if (!problem.empty()) {
                    line.mode = CommandLine::Mode::BadUsage;
                    line.problem = displayPathText(problem);
                    return line;
                }
            } else if (argument == "--help" || argument == "-h") {
                line.mode = CommandLine::Mode::Help;
                return line;
            } else if (argument == "--version") {
                line.mode = CommandLine::Mode::Version;
                return line;
            } else {
                line.mode = CommandLine::Mode::BadUsage;
                line.problem = QStringLiteral("unknown option '%1'").arg(displayPathText(argument));
                return line;
            }
        } else {
            line.itemPaths.push_back(argument);
        }
    }
    if (!reportOnly.isEmpty() && !report) {
        line.mode = CommandLine::Mode::BadUsage;
        line.problem = QStringLiteral("%1 goes with --report").arg(reportOnly);
    } else if (report && line.itemPaths.empty()) {
        line.mode = CommandLine::Mode::BadUsage;
        line.problem = QStringLiteral("--report needs at least one item");
    } else {
        line.mode = report ? CommandLine::Mode::Report : CommandLine::Mode::Windows;
    }
    return line;
}

}  // namespace tessarin
