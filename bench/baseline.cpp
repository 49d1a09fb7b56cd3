// baseline — the yardstick for the start-up and memory figures: it prints one line and ends. It is
// built with the same compiler, flags and link options as the programs, so whatever a program costs
// beyond this is its own doing.

#include <cstdio>

int main()
{
    std::puts("ready");
    return 0;
}
