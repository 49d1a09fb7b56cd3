// The sub-commands of posix-demos: each takes the words after `posix-demos` (its own name first) and
// gives back the exit status.
#pragma once

int tour_main(int argc, char* argv[]);

// posix-demos peek PID [--once]: what the kernel knows of a running program and its children, in
// the program's own terms; redrawn live at a terminal.
int peek_main(int argc, char* argv[]);
