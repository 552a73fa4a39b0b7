// "Опросить": identification, version, silence and a device that is not a TQ734.
#include "engine_test.h"

using PollTest = EngineTest;

TEST_F(PollTest, Tq734AnswersWithVersion)
{
    poll_device();
    EXPECT_EQ(update_engine.state, Polling);
    EXPECT_EQ(writes(), std::vector<Bytes>{WIRE_IDENTIFY});
    EXPECT_EQ(world.status.text, L"Ожидание");
    EXPECT_EQ(world.status.tag, 8);
    EXPECT_TRUE(world.timer_armed);
    EXPECT_EQ(world.timer_period, 500u);

    world.info = {L"Версия : 1.1", 4};   // an older version under the same tag
    world.events.clear();
    deliver(device_frame({'I', 'D', 'T', 'Q'}));
    EXPECT_EQ(writes(), std::vector<Bytes>{WIRE_VERSION_REQUEST});
    EXPECT_EQ(update_engine.state, Polling);

    world.events.clear();
    deliver(device_frame({0x54, 0x51, 0x01, 0x02, 0x81, 0x01}));
    std::vector<Event> info = events_of(Ev::Info);
    ASSERT_EQ(info.size(), 2u);
    EXPECT_EQ(info[0].value, 0);
    EXPECT_EQ(info[1].value, 4);
    EXPECT_EQ(info[1].text, L"Версия : 2.385");
    EXPECT_EQ(world.info.text, L"Версия : 2.385");
    EXPECT_EQ(world.status.tag, 0);
    EXPECT_EQ(world.status.text, L"");
    EXPECT_EQ(update_engine.state, Idle);
    EXPECT_EQ(update_engine.version_known, 1);
    EXPECT_EQ(update_engine.exit_code, 127);
    EXPECT_TRUE(writes().empty());
}

TEST_F(PollTest, VersionReplyWithoutFieldsShowsSuccess)
{
    for (Bytes body : {Bytes{0x54, 0x51, 0x01}, Bytes{0x54, 0x51, 0x01, 0x02, 0x81}}) {
        reset_world();
        poll_device();
        deliver(device_frame(body));
        EXPECT_EQ(world.info.text, L"Успешно");
        EXPECT_EQ(world.info.tag, 1);
        EXPECT_EQ(update_engine.version_known, 0);
        EXPECT_EQ(update_engine.state, Idle);
    }
}

TEST_F(PollTest, SilentDeviceIsAskedAgainEvery500ms)
{
    poll_device();
    world.events.clear();
    on_reply_timer();
    on_reply_timer();
    EXPECT_EQ(writes(), (std::vector<Bytes>{WIRE_IDENTIFY, WIRE_IDENTIFY}));
    EXPECT_EQ(world.info.text, L"Нет ответа");
    EXPECT_EQ(world.info.tag, 2);
    EXPECT_TRUE(events_of(Ev::StopTimer).empty());
    EXPECT_TRUE(world.timer_armed);
    EXPECT_EQ(update_engine.state, Polling);
}

TEST_F(PollTest, OtherDeviceInteractiveStaysOpen)
{
    poll_device();
    world.events.clear();
    // The version reply behind it in the same read is not looked at any more.
    deliver(joined({device_frame({'I', 'D', 'X', 'Y'}), device_frame({0x54, 0x51, 0x01, 0x02, 0x81, 0x01})}));
    EXPECT_EQ(world.status.text, L"ОШИБКА!");
    EXPECT_EQ(world.status.tag, 5);
    EXPECT_EQ(world.info.text, L"Подключенное устройство не TQ734");
    EXPECT_EQ(world.info.tag, 3);
    EXPECT_EQ(update_engine.exit_code, 126);
    EXPECT_EQ(update_engine.state, Idle);
    EXPECT_EQ(event_kinds(), (std::vector<Ev>{Ev::Status, Ev::Info}));
}

TEST_F(PollTest, OtherDeviceInAutoModeShowsBoxAndCloses)
{
    update_engine.auto_mode = 1;
    poll_device();
    world.events.clear();
    deliver(device_frame({'I', 'D', 'T', 'X'}));
    std::vector<Event> boxes = events_of(Ev::Message);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, L"ОШИБКА!\r\nПодключенное устройство не TQ734");
    EXPECT_FALSE(boxes[0].has_caption);
    EXPECT_EQ(boxes[0].message_kind, MessageKind::Error);
    EXPECT_EQ(boxes[0].state, Idle);
    EXPECT_EQ(update_engine.state, Closing);
    EXPECT_EQ(update_engine.exit_code, 126);
    EXPECT_TRUE(writes().empty());                // no final command on this path
    EXPECT_TRUE(events_of(Ev::Close).empty());    // the port closes with the process
    on_tick();
    EXPECT_EQ(events_of(Ev::EndDialog).size(), 1u);
}

TEST_F(PollTest, OtherDeviceDuringTransferOnlyChangesTheLines)
{
    start_update();
    deliver(ack_frame(0));
    world.events.clear();
    deliver(device_frame({'I', 'D', 0x00, 0x00}));
    EXPECT_EQ(event_kinds(), (std::vector<Ev>{Ev::Status, Ev::Info}));
    EXPECT_EQ(update_engine.exit_code, 126);
    world.events.clear();
    on_reply_timer();   // Idle now: the timer just stops
    EXPECT_EQ(event_kinds(), std::vector<Ev>{Ev::StopTimer});
}
