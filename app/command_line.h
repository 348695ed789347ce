#pragma once

// The arguments of a process's command line: the text after the program's
// name (quoted or not) and the blanks that follow it, as the platform's own
// start-up code gives WinMain. Never null; empty when there are none.
const char* ArgumentsAfterProgramName(const char* command_line);
