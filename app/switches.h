// The command line: the manifest's file name, with switches before or after it,
// each beginning with '/'. A file name cannot hold '/', so every command line that
// names only a manifest means what it always meant, and a blank followed by '/'
// ends the name. Quotes group and are not part of the name or a switch's value.
#pragma once

#include <string>

struct Switches {
    bool silent = false;      // /S, or a word that meant it (/S=1, /S/S): then no box is ever shown
    bool planOnly = false;    // /plan
    bool help = false;        // /?
    std::string logPath;      // /log=PATH
    std::string unknown;      // the first switch (or word after the switches) not understood
    std::string selfRemoval;  // the private switch's value: this run is the copy that removes the program's file
    std::string argument;     // the manifest's file name, without its quotes
};

extern const char kUsageText[];

// Reads the switches off the command-line tail, before and after the manifest's
// name. A value, a switch or the name may be quoted: /log="C:\My Logs\remover.log",
// "/log=C:\x.log", "Foo.xml".
Switches ParseSwitches(const std::string& tail, const char* selfRemovalSwitch);

// The manifest's name that a whole command line starting this program gives it,
// read as the program reads its own: the tail after the program's name, then the
// switches. Another product's Uninstall entry is read so.
std::string ManifestArgument(const std::string& commandLine);
