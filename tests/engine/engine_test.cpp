// Helpers behind engine_test.h, kept out of line so the test bodies stay short.
#include "engine_test.h"

#include "port_selection.h"

// Port selection's number; the fuzz target links the real port selection instead.
uint16_t port_number = 0;
uint16_t port_chosen = 0;

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
