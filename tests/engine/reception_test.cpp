// Which states take bytes from the line, and the automatic start.
#include "engine_test.h"

using ReceptionTest = EngineTest;

TEST_F(ReceptionTest, IdleDiscardsBytesAndAutoStartPendingActs)
{
    Bytes ack = ack_frame(0);
    deliver(Bytes(ack.begin(), ack.end() - 3));   // Idle: nothing reaches the receiver
    EXPECT_EQ(frame_receiver.length, 0u);
    update_engine.state = AutoStartPending;
    deliver(Bytes(ack.end() - 3, ack.end()));
    EXPECT_TRUE(writes().empty());
    deliver(ack);
    ASSERT_EQ(writes().size(), 1u);
    EXPECT_EQ(sent_block_index(writes()[0]), 1);
}

TEST_F(ReceptionTest, ClosingDiscardsBytes)
{
    update_engine.state = Closing;
    deliver(device_frame({'I', 'D', 'X', 'Y'}));
    EXPECT_TRUE(world.events.empty());
    EXPECT_EQ(frame_receiver.length, 0u);
    EXPECT_EQ(update_engine.exit_code, 127);
}

TEST_F(ReceptionTest, AutoStartPendingTakesVersionReply)
{
    update_engine.state = AutoStartPending;
    deliver(device_frame({0x54, 0x51, 0x01, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(world.info.text, L"Версия : 255.65535");
    EXPECT_EQ(update_engine.state, AutoStartPending);
}

TEST_F(ReceptionTest, FrameSplitIntoSingleByteReads)
{
    start_update();
    world.events.clear();
    for (uint8_t b : ack_frame(0))
        deliver(Bytes{b});
    ASSERT_EQ(writes().size(), 1u);
    EXPECT_EQ(sent_block_index(writes()[0]), 1);
}

TEST_F(ReceptionTest, PollForgetsHalfCollectedFrame)
{
    start_update();
    Bytes ack = ack_frame(0);
    deliver(Bytes(ack.begin(), ack.end() - 1));
    poll_device();
    world.events.clear();
    deliver(Bytes(ack.end() - 1, ack.end()));   // would complete ack 0 and send block 1
    EXPECT_TRUE(writes().empty());
}

TEST_F(ReceptionTest, TickStartsUpdateOnlyWithPort)
{
    reset_world(0);
    update_engine.state = AutoStartPending;
    on_tick();
    EXPECT_EQ(update_engine.state, Idle);
    EXPECT_TRUE(world.events.empty());

    reset_world(3);
    update_engine.state = AutoStartPending;
    on_tick();
    EXPECT_EQ(update_engine.state, Transferring);
    ASSERT_EQ(writes().size(), 1u);
    EXPECT_EQ(sent_block_index(writes()[0]), 0);
    EXPECT_TRUE(events_of(Ev::EndDialog).empty());
    on_tick();
    EXPECT_EQ(writes().size(), 1u);   // only the first tick starts
}
