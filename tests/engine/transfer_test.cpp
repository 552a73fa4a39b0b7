// "СТАРТ": the block transfer, acknowledgements, retransmission and the finish request.
#include <string>

#include "engine_test.h"
#include "firmware_image.h"

using TransferTest = EngineTest;

// Short name of a written frame: "B<index>", "V", "F", "I", "E" or "?".
static std::string token_of(const Bytes& frame)
{
    int index = sent_block_index(frame);
    if (index >= 0)
        return "B" + std::to_string(index);
    if (frame == WIRE_VERSION_REQUEST)
        return "V";
    if (frame == WIRE_FINISH_REQUEST)
        return "F";
    if (frame == WIRE_IDENTIFY)
        return "I";
    if (frame == WIRE_FINAL_COMMAND)
        return "E";
    return "?";
}

static std::vector<std::string> written_tokens()
{
    std::vector<std::string> out;
    for (const Bytes& w : writes())
        out.push_back(token_of(w));
    return out;
}

TEST_F(TransferTest, StartSendsBlockZeroAtOnce)
{
    start_update();
    EXPECT_EQ(event_kinds(), (std::vector<Ev>{Ev::StopTimer, Ev::Status, Ev::TransferView, Ev::StopTimer,
                                              Ev::BlockProgress, Ev::Write, Ev::StartTimer}));
    EXPECT_EQ(events_of(Ev::TransferView)[0].state, Transferring);
    EXPECT_EQ(world.status.text, L"Ожидание");
    EXPECT_EQ(world.status.tag, 8);
    EXPECT_EQ(world.timer_period, 1000u);
    Bytes body = sent_body(writes()[0]);
    ASSERT_EQ(body.size(), 261u);
    EXPECT_EQ(Bytes(body.begin(), body.begin() + 5), (Bytes{0x54, 0x51, 0x02, 0x00, 0x00}));
    EXPECT_EQ(Bytes(body.begin() + 5, body.end()), Bytes(FirmwareImage, FirmwareImage + 256));
}

TEST_F(TransferTest, FullTransferWithImmediateAcks)
{
    start_update();
    for (unsigned i = 0; i <= 1230; ++i)
        deliver(ack_frame(i));

    // Acknowledgement n (of block n - 1) brings block n, after a version request
    // for n = 2, 17, 32, ...; the tail's acknowledgement brings the finish request.
    std::vector<std::string> expected{"B0"};
    for (unsigned n = 1; n <= 1230; ++n) {
        if (n % 15 == 2)
            expected.push_back("V");
        expected.push_back("B" + std::to_string(n));
    }
    expected.push_back("F");
    EXPECT_EQ(written_tokens(), expected);

    for (const Bytes& w : writes()) {
        int index = sent_block_index(w);
        if (index < 0)
            continue;
        Bytes data = sent_body(w);
        data.erase(data.begin(), data.begin() + 5);
        Bytes want(256, 0);
        size_t from = size_t(index) * 256;
        size_t count = index == 1230 ? 32 : 256;
        std::copy(FirmwareImage + from, FirmwareImage + from + count, want.begin());
        ASSERT_EQ(data, want) << "block " << index;
    }
    EXPECT_EQ(writes().back(), WIRE_FINISH_REQUEST);

    std::vector<Event> activity = events_of(Ev::Activity);
    ASSERT_EQ(activity.size(), 1230u);
    for (size_t k = 0; k < activity.size(); ++k)
        ASSERT_EQ(activity[k].value, int(k % 15 + 1)) << k;
    EXPECT_EQ(events_of(Ev::BlockProgress).back().value, 1230);
    EXPECT_EQ(world.status.text, L"Обновление");
    EXPECT_EQ(world.status.tag, 1);
    EXPECT_EQ(world.info.text, L"Успешно");
    EXPECT_EQ(update_engine.state, Finishing);
    EXPECT_EQ(update_engine.block_counter, 1230u);
    EXPECT_EQ(world.timer_period, 500u);
    EXPECT_TRUE(world.timer_armed);
}

TEST_F(TransferTest, AckShowsStatusProgressAndKnownVersion)
{
    poll_device();
    deliver(device_frame({0x54, 0x51, 0x01, 0x03, 0x00, 0x00}));
    start_update();
    world.events.clear();
    deliver(ack_frame(0));
    EXPECT_EQ(world.info.text, L"Версия : 3.0");
    EXPECT_EQ(world.info.tag, 4);
    EXPECT_EQ(world.status.text, L"Обмен информацией");
    EXPECT_EQ(world.status.tag, 2);
    EXPECT_EQ(events_of(Ev::BlockProgress).back().value, 1);
    EXPECT_EQ(events_of(Ev::Activity).back().value, 1);
    // A version reply during the transfer refreshes the line and nothing else.
    world.events.clear();
    deliver(device_frame({0x54, 0x51, 0x01, 0x02, 0x81, 0x01}));
    EXPECT_EQ(world.info.text, L"Версия : 2.385");
    EXPECT_EQ(update_engine.state, Transferring);
    EXPECT_EQ(event_kinds(), (std::vector<Ev>{Ev::Info, Ev::Info}));
}

TEST_F(TransferTest, DuplicateStrayAndMissingAcks)
{
    start_update();
    deliver(ack_frame(0));
    world.events.clear();
    deliver(ack_frame(0));   // late duplicate
    deliver(ack_frame(5));   // not the current block
    EXPECT_TRUE(world.events.empty());
    EXPECT_EQ(update_engine.block_counter, 1u);

    on_reply_timer();
    EXPECT_EQ(event_kinds(), (std::vector<Ev>{Ev::Info, Ev::StopTimer, Ev::BlockProgress, Ev::Write, Ev::StartTimer}));
    EXPECT_EQ(world.info.text, L"Нет ответа");
    EXPECT_EQ(world.info.tag, 2);
    EXPECT_EQ(written_tokens(), std::vector<std::string>{"B1"});
    EXPECT_EQ(world.timer_period, 1000u);

    world.events.clear();
    deliver(ack_frame(1));
    EXPECT_EQ(written_tokens(), (std::vector<std::string>{"V", "B2"}));
    EXPECT_EQ(world.info.text, L"Успешно");
}

TEST_F(TransferTest, LastBlockAckedAgainWhileFinishing)
{
    reach_finishing();
    on_reply_timer();   // the first expiry in Finishing only stops the timer
    EXPECT_EQ(event_kinds(), std::vector<Ev>{Ev::StopTimer});
    world.events.clear();
    deliver(ack_frame(1229));
    EXPECT_TRUE(world.events.empty());
    deliver(ack_frame(1230));
    EXPECT_EQ(written_tokens(), std::vector<std::string>{"F"});
    EXPECT_EQ(world.timer_period, 500u);
    EXPECT_TRUE(world.timer_armed);
    EXPECT_EQ(update_engine.state, Finishing);
    EXPECT_EQ(update_engine.block_counter, 1230u);
}

TEST_F(TransferTest, AckWhilePollingWithCounterZeroSendsBlockOne)
{
    poll_device();
    world.events.clear();
    deliver(ack_frame(0));
    EXPECT_EQ(written_tokens(), std::vector<std::string>{"B1"});
    EXPECT_EQ(update_engine.state, Polling);
}

TEST_F(TransferTest, ReplyTimerOutsidePollAndTransferOnlyStops)
{
    for (EngineState s : {Idle, Finishing, AutoStartPending, Closing}) {
        reset_world();
        update_engine.state = s;
        on_reply_timer();
        EXPECT_EQ(event_kinds(), std::vector<Ev>{Ev::StopTimer}) << int(s);
    }
}
