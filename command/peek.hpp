// posix-demos peek PID [--once]: what the kernel knows of a running program and its children, in
// the program's own terms; redrawn live at a terminal.
#pragma once

int peek_main(int argc, char* argv[]);
