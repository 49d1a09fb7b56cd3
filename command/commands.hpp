// The sub-commands of posix-demos: each takes the words after `posix-demos` (its own name first) and
// gives back the exit status.
#pragma once

int tour_main(int argc, char* argv[]);
