// The command line: switches first, each beginning with '/', then the manifest's
// file name. A file name cannot hold '/', so every command line that names only
// a manifest means what it always meant.
#pragma once

#include <string>

struct Switches {
    bool silent = false;      // /S
    bool planOnly = false;    // /plan
    bool help = false;        // /?
    std::string logPath;      // /log=PATH
    std::string unknown;      // the first switch not understood
    std::string selfRemoval;  // the private switch's value: this run is the copy that removes the program's file
    std::string argument;     // the rest, verbatim: the manifest's file name
};

extern const char kUsageText[];

// Reads the switches off the front of the command-line tail. A value may be
// quoted: /log="C:\My Logs\remover.log".
Switches ParseSwitches(const std::string& tail, const char* selfRemovalSwitch);
