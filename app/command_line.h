#pragma once

// The arguments of a process's command line: the text after the program's
// name (quoted or not) and the blanks that follow it, as the platform's own
// start-up code gives WinMain. Never null; empty when there are none.
const char* ArgumentsAfterProgramName(const char* command_line);
// Whether the arguments hold the switch name (for example "/log") as a word
// of its own, in any case.
bool HasSwitch(const char* arguments, const char* name);
