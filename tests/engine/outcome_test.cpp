// The device's verdict: message boxes, final command, closing, remembered port, exit code.
#include "engine_test.h"

using OutcomeTest = EngineTest;

TEST_F(OutcomeTest, SuccessInteractiveShowsInformationThenFinishes)
{
    reach_finishing();
    size_t writes_before_box = 99;
    bool open_during_box = false;
    world.during_message = [&] {
        writes_before_box = writes().size();
        open_during_box = world.channel_open;
    };
    deliver(finish_reply_frame(0));
    EXPECT_EQ(event_kinds(), (std::vector<Ev>{Ev::Activity, Ev::Status, Ev::RememberPort, Ev::Message, Ev::Write,
                                              Ev::Close}));
    EXPECT_EQ(events_of(Ev::Activity)[0].value, 15);
    EXPECT_EQ(world.status.text, L"ЗАВЕРШЕНО");
    EXPECT_EQ(world.status.tag, 4);
    EXPECT_EQ(events_of(Ev::RememberPort)[0].value, 7);
    Event box = events_of(Ev::Message)[0];
    EXPECT_EQ(box.text, L"Обновление ПО произведено успешно.");
    EXPECT_EQ(box.caption, L"Информация");
    EXPECT_EQ(box.message_kind, MessageKind::Information);
    EXPECT_EQ(box.state, Idle);
    EXPECT_EQ(writes_before_box, 0u);   // the final command waits for the box
    EXPECT_TRUE(open_during_box);
    EXPECT_EQ(writes(), std::vector<Bytes>{WIRE_FINAL_COMMAND});
    EXPECT_EQ(events_of(Ev::Close)[0].value, 0);
    EXPECT_EQ(update_engine.exit_code, 0);
    EXPECT_EQ(update_engine.state, Closing);
    on_tick();
    EXPECT_EQ(events_of(Ev::EndDialog).size(), 1u);
}

TEST_F(OutcomeTest, SuccessInAutoModeHasNoBox)
{
    reset_world(12);
    update_engine.auto_mode = 1;
    reach_finishing();
    deliver(finish_reply_frame(0));
    EXPECT_TRUE(events_of(Ev::Message).empty());
    EXPECT_EQ(events_of(Ev::RememberPort)[0].value, 12);
    EXPECT_EQ(writes(), std::vector<Bytes>{WIRE_FINAL_COMMAND});
    EXPECT_EQ(events_of(Ev::Close).size(), 1u);
    EXPECT_EQ(update_engine.exit_code, 0);
    on_tick();
    EXPECT_EQ(events_of(Ev::EndDialog).size(), 1u);
}

TEST_F(OutcomeTest, DeviceErrorsShowTheirTextsInAnyMode)
{
    struct Case {
        uint8_t code;
        uint8_t auto_mode;
        const wchar_t* text;
    };
    const Case cases[] = {
        {8, 0, L"Ошибка загрузки прошивки.\r\nОбновление не произведено."},
        {11, 0, L"Ошибка в принятых данных.\r\nОшибка распаковки прошивки.\r\nОбновление не произведено."},
        {8, 1, L"Ошибка загрузки прошивки.\r\nОбновление не произведено."},
    };
    for (const Case& c : cases) {
        reset_world();
        update_engine.auto_mode = c.auto_mode;
        reach_finishing();
        deliver(finish_reply_frame(c.code));
        EXPECT_EQ(event_kinds(), (std::vector<Ev>{Ev::Status, Ev::Message, Ev::Write, Ev::Close})) << int(c.code);
        EXPECT_EQ(world.status.text, L"ОШИБКА!");
        EXPECT_EQ(world.status.tag, 5);
        Event box = events_of(Ev::Message)[0];
        EXPECT_EQ(box.text, c.text);
        EXPECT_FALSE(box.has_caption);
        EXPECT_EQ(box.message_kind, MessageKind::Error);
        EXPECT_EQ(writes(), std::vector<Bytes>{WIRE_FINAL_COMMAND});
        EXPECT_EQ(update_engine.exit_code, c.code);
        EXPECT_EQ(update_engine.state, Closing);
    }
}

TEST_F(OutcomeTest, ResultCodeTexts)
{
    const wchar_t* generic = L"Ошибка загрузки прошивки.\r\nОбновление не произведено.";
    const wchar_t* texts[] = {
        nullptr,
        L"Ошибка в принятых данных.\r\nБольшая прошивка.\r\nОбновление не произведено.",
        L"Ошибка загрузки прошивки.\r\nОшибка записи в flash.\r\nОбновление не произведено.",
        L"Ошибка загрузки прошивки.\r\nОшибка стирания flash.\r\nОбновление не произведено.",
        L"Ошибка в принятых данных.\r\nОшибка проверки crc.\r\nОбновление не произведено.",
        L"Ошибка в принятых данных.\r\nОшибка поиска типа прошивки.\r\nОбновление не произведено.",
        L"Ошибка загрузки прошивки.\r\nПамять flash защищена от записи.\r\nОбновление не произведено.",
        L"Ошибка загрузки прошивки.\r\nПамять flash находится в занятом режиме.\r\nОбновление не произведено.",
        generic,
        L"Ошибка загрузки прошивки.\r\nЗанят Spi.\r\nОбновление не произведено.",
        L"Ошибка загрузки прошивки.\r\nНеизвестная микросхема flash.\r\nОбновление не произведено.",
        L"Ошибка в принятых данных.\r\nОшибка распаковки прошивки.\r\nОбновление не произведено.",
        L"Ошибка в принятых данных.\r\nОшибка проверки crc firmware.\r\nОбновление не произведено.",
    };
    for (unsigned code = 1; code <= 255; ++code)
        EXPECT_EQ(std::wstring(result_code_text(uint8_t(code))), std::wstring(code <= 12 ? texts[code] : generic))
            << code;
}

TEST_F(OutcomeTest, NoFinalCommandWithOptionD)
{
    update_engine.final_command_flag = 0;
    reach_finishing();
    deliver(finish_reply_frame(0));
    deliver(finish_reply_frame(3));   // Closing: not looked at
    EXPECT_TRUE(writes().empty());
    EXPECT_EQ(events_of(Ev::Close).size(), 1u);
    EXPECT_EQ(update_engine.exit_code, 0);
    EXPECT_EQ(update_engine.state, Closing);
}

TEST_F(OutcomeTest, LaterEventsOverwriteTheExitCode)
{
    poll_device();
    deliver(device_frame({'I', 'D', 'A', 'B'}));
    EXPECT_EQ(update_engine.exit_code, 126);
    reach_finishing();
    deliver(finish_reply_frame(0));
    EXPECT_EQ(update_engine.exit_code, 0);

    reset_world();
    poll_device();
    deliver(device_frame({'I', 'D', 'A', 'B'}));
    reach_finishing();
    deliver(finish_reply_frame(200));
    EXPECT_EQ(update_engine.exit_code, 200);
    EXPECT_TRUE(events_of(Ev::RememberPort).empty());
}

TEST_F(OutcomeTest, NestedReceiveDuringBoxReturnsAndOuterReadStops)
{
    reach_finishing();
    size_t nested_events = 99;
    world.during_message = [&] {
        size_t before = world.events.size();
        deliver(joined({ack_frame(1230), finish_reply_frame(0)}));
        on_tick();
        nested_events = world.events.size() - before;
        on_reply_timer();   // stops the timer, nothing else
    };
    // The wrong-device reply behind the finish reply must never be parsed.
    deliver(joined({finish_reply_frame(9), device_frame({'I', 'D', 'X', 'X'})}));
    EXPECT_EQ(nested_events, 0u);
    EXPECT_EQ(update_engine.exit_code, 9);
    EXPECT_EQ(world.status.text, L"ОШИБКА!");
    EXPECT_NE(world.info.tag, 3);
    EXPECT_EQ(events_of(Ev::Message).size(), 1u);
    EXPECT_EQ(events_of(Ev::EndDialog).size(), 0u);
    EXPECT_EQ(update_engine.state, Closing);
}

TEST_F(OutcomeTest, SuccessReplyDuringTransferEndsTheUpdate)
{
    start_update();
    deliver(ack_frame(0));
    deliver(finish_reply_frame(0));
    EXPECT_EQ(update_engine.exit_code, 0);
    EXPECT_EQ(update_engine.state, Closing);
    EXPECT_EQ(writes().back(), WIRE_FINAL_COMMAND);
}

TEST_F(OutcomeTest, ErrorReplyDuringTransferEndsTheUpdate)
{
    start_update();
    deliver(ack_frame(0));
    deliver(finish_reply_frame(1));
    EXPECT_EQ(events_of(Ev::Message).size(), 1u);
    EXPECT_EQ(update_engine.exit_code, 1);
    EXPECT_EQ(update_engine.state, Closing);
    EXPECT_EQ(writes().back(), WIRE_FINAL_COMMAND);
}

// A finish reply ends only an update under way: a stray success while polling or before the
// first block would report an update the device never received.
TEST_F(OutcomeTest, FinishReplyOutsideAnUpdateIsIgnored)
{
    const struct {
        const char* name;
        void (*enter)();
        EngineState stays;
    } rows[] = {
        {"polling", [] { poll_device(); }, Polling},
        {"automatic start pending", [] { update_engine.auto_mode = 1; update_engine.state = AutoStartPending; },
         AutoStartPending},
    };
    for (const auto& row : rows) {
        for (uint8_t result : {uint8_t(0), uint8_t(4)}) {
            reset_world();
            row.enter();
            world.events.clear();
            deliver(finish_reply_frame(result));
            EXPECT_EQ(update_engine.state, row.stays) << row.name;
            EXPECT_EQ(update_engine.exit_code, 127) << row.name;
            EXPECT_TRUE(world.events.empty()) << row.name;   // no box, no write, no close, no remembered port
        }
    }
}
