// The command line: what each argument asks for, the help and version texts, and the exit
// statuses, all decided before anything needs a display.
#pragma once

#include <QString>

#include <string>
#include <vector>

#include "ReleaseGate.h"

namespace tessarin {

struct CommandLine {
    enum class Mode { Windows, Report, Help, Version, BadUsage };
    Mode mode = Mode::Windows;
    bool json = false;
    int jsonVersion = 1;      // --json=N: the JSON schema version asked for
    bool online = false;      // --online: the checks also ask Apple's ticket service
    bool components = false;  // --components: each report is followed by its component tree
    ReleaseGate gate;         // --require
    // The items byte for byte, as main() got them: a file name need not be valid text.
    std::vector<std::string> itemPaths;
    QString problem;  // for BadUsage: what was wrong, in one sentence
};

// `arguments` without the program's name, all of them, as argv's bytes: Qt never sees the command
// line, so that --help, --version and mistakes are answered before anything needs a display, and
// no file name is decoded. Options: --report; --json[=N], --online, --components and --require
// WORDS (with --report only); --help, --version; "--" ends the options.
CommandLine parseCommandLine(const std::vector<std::string>& arguments);
// What --help prints: every option and the exit statuses.
QString helpText();
// What --version prints: the program's name and the project's version.
QString versionText();

inline constexpr int kExitInspected = 0;
inline constexpr int kExitItemMissing = 1;
inline constexpr int kExitBadUsage = 2;
inline constexpr int kExitNoDisplay = 3;  // windows asked for where no display can be reached
// With --require, an item or one of its components fell short (an item missing counts too).
inline constexpr int kExitRequirementsUnmet = 4;
// An interrupted run exits with 128 and the signal's number: 130 for SIGINT, 143 for SIGTERM.
inline constexpr int kExitSignalBase = 128;

}  // namespace tessarin
