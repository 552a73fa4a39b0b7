// Fixture shared by the engine tests: a fresh engine and fake world per test.
#pragma once
#include <gtest/gtest.h>

#include "device_frames.h"
#include "fake_host.h"
#include "frame_codec.h"
#include "update_engine.h"

struct EngineTest : ::testing::Test {
    void SetUp() override { reset_world(); }
};

// Kinds of the recorded events, in order.
std::vector<Ev> event_kinds();
// Runs an update up to Finishing (the tail block acknowledged), then forgets the events.
void reach_finishing();
