// The command line's grammar, for this program's own and for the commands it
// reads or starts: the switches, the manifest's name, the product it names, and
// the program a command runs.
//
// The manifest's file name comes with switches before or after it, each beginning
// with '/'. A file name cannot hold '/', so every command line that names only a
// manifest means what it always meant, and a blank followed by '/' ends the name.
// Quotes group and are not part of the name or a switch's value.
#pragma once

#include <cstddef>
#include <string>

#include "platform/platform.h"

struct Switches {
    bool silent = false;      // /S, or a word that meant it (/S=1, /S/S): then no box is ever shown
    bool planOnly = false;    // /plan
    bool help = false;        // /?
    std::string logPath;      // /log=PATH
    std::string unknown;      // the first switch (or word after the switches) not understood
    std::string selfRemoval;  // the private switch's value: this run is the copy that removes the program's file
    std::string argument;     // the manifest's file name, without its quotes
};

// Reads the switches off the command-line tail, before and after the manifest's
// name. A value, a switch or the name may be quoted: /log="C:\My Logs\remover.log",
// "/log=C:\x.log", "Foo.xml".
Switches ParseSwitches(const std::string& tail, const char* selfRemovalSwitch);

// The manifest's name that a whole command line starting this program gives it,
// read as the program reads its own: the tail after the program's name, then the
// switches. Another product's Uninstall entry is read so.
std::string ManifestArgument(const std::string& commandLine);

// The product the argument names: its file name, without any folder part, up to
// its last full stop; empty when it has none. "Foo.xml", ".\Foo.xml" and
// "sub\Foo.xml" are all Foo, with one key and one lock.
std::string ProductName(const std::string& argument);

// A path from a drive or share (C:\..., \\server\...): a bare name is the
// system's to search for, and a folder relative to no drive means nothing here.
bool IsAbsolutePath(const std::string& path);

// How much of an unquoted command line is probed for its program: the first
// word boundaries up to this many, and no path longer than this (twice the
// classic path limit). An entry any user may write costs no more than that.
constexpr size_t kProbedBoundaries = 16;
constexpr size_t kProbedLength = 520;

struct CommandProgram {
    std::string path;
    size_t end = 0;       // where the program ends in the command: its arguments follow
    bool quoted = false;  // named in quotes: exactly that file
    bool found = false;   // unquoted, and found an existing file by the probes
};

// The program a command line runs, by one rule for every command the program
// reads or starts. A command that begins with a quoted path runs that file.
// Unquoted, a path from a drive or share runs the whole line when that names an
// existing file, else the shortest run of its words that does, ending at a blank
// after `from` (the words before it are one folder's, never split); when none
// does, or for a bare name (`MsiExec.exe /X{...}`, the system's to search for),
// its first word.
CommandProgram ProgramOfCommand(platform::Platform& os, const std::string& command, size_t from = 0);
