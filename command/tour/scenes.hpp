// The tour's scenes, one per program, each played by a function of the family file it belongs to
// (mutex.cpp, condition.cpp, ...). A scene says what to watch, plays the program, and throws Failed
// with what was seen instead when the program did not keep its promise.
#pragma once

namespace tour {

void unguarded_tally();
void guarded_tally();
void wait_wake_handoff();
void enter_gate();
void permit_drain();
void interrupt_release();
void even_odd_turns();
void replaced_alarm();
void rearmed_alarm();
void interrupt_tally();
void interrupt_child();
void child_exit_notice();
void renice_self();
void show_niceness();

}  // namespace tour
