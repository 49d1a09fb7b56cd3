// The mutex scenes: two threads on one counter, without and with a lock.

#include <optional>
#include <string>
#include <vector>

#include "lines.hpp"
#include "scenes.hpp"
#include "screen.hpp"
#include "staging.hpp"

namespace tour {

void unguarded_tally()
{
    say("Two threads each add 1 to one shared counter ten million times, with no lock. Every addition");
    say("is a read and then a separate write: when the other thread writes in between, its update is");
    say("overwritten. Watch the total: short of 20,000,000, and different from run to run. Three runs.");
    std::vector<std::string> totals;
    int lossy = 0;
    for (int run = 0; run < 3; ++run) {
        Staged tally("unguarded_tally");
        tally.need_end(demo::exited(0));
        std::vector<std::string> lines = tally->lines();
        std::optional<long long> sum =
            lines.size() == 1 ? demo::number_after<long long>(lines[0], "ARRRRG sum is ") : std::nullopt;
        need(sum.has_value(),
            "it printed" + printed(*tally) + "\ninstead of one line \"ARRRRG sum is <total>\"");
        long long total = *sum;
        need(total > 0 && total <= 20000000, "the total " + grouped(total) + " is outside 1 to 20,000,000");
        totals.push_back(grouped(total));
        lossy += total < 20000000 ? 1 : 0;
    }
    say(format("Seen: totals %s, %s and %s; %d of the 3 runs lost updates.", totals[0].c_str(),
        totals[1].c_str(), totals[2].c_str(), lossy));
    say("(A run loses none only when one thread happens to finish before the other starts.)");
}

void guarded_tally()
{
    say("The same two threads, but each takes mutex1, adds one, prints the new value and lets go.");
    say("Whichever thread comes first, the lines read 1 and then 2: no update is lost.");
    Staged tally("guarded_tally");
    tally.need_end(demo::exited(0));
    need_lines(*tally, {"Counter value: 1", "Counter value: 2"});
    say("Seen: \"Counter value: 1\", then \"Counter value: 2\", status 0.");
}

}  // namespace tour
