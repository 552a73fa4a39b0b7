// Helpers behind engine_test.h, kept out of line so the test bodies stay short.
#include "engine_test.h"

std::vector<Ev> event_kinds()
{
    std::vector<Ev> out;
    for (const Event& e : world.events)
        out.push_back(e.kind);
    return out;
}

void reach_finishing()
{
    start_update();
    update_engine.block_counter = 1230;
    deliver(ack_frame(1230));
    ASSERT_EQ(update_engine.state, Finishing);
    world.events.clear();
}
