#include <gtest/gtest.h>

#include "app_fakes.h"
#include "engine_host.h"
#include "line_text.h"

namespace {

class LineText : public ::testing::Test {
protected:
    void SetUp() override { reset_world(); }
};

TEST_F(LineText, SameTagTwiceWritesOnce)
{
    set_status(L"Ожидание", 8);
    set_status(L"Ожидание", 8);
    set_status(L"something else", 8);
    EXPECT_EQ(world.status_writes, (std::vector<std::wstring>{L"Ожидание"}));
    EXPECT_TRUE(world.info_writes.empty());
}

TEST_F(LineText, ClearingALineWhoseTagIsZeroDoesNothing)
{
    set_info(nullptr, 0);
    set_status(nullptr, 0);
    EXPECT_TRUE(world.info_writes.empty());
    EXPECT_TRUE(world.status_writes.empty());
    set_info(L"Нет ответа", 2);
    set_info(nullptr, 0);
    EXPECT_EQ(world.info_writes, (std::vector<std::wstring>{L"Нет ответа", L""}));
}

TEST_F(LineText, VersionRefreshThroughTagZeroThenFour)
{
    set_info(L"Версия : 2.384", 4);
    set_info(L"Версия : 2.385", 4);   // same tag: not shown
    EXPECT_EQ(info_text(), L"Версия : 2.384");
    set_info(L"Версия : 2.385", 0);
    set_info(L"Версия : 2.385", 4);
    EXPECT_EQ(world.info_writes, (std::vector<std::wstring>{L"Версия : 2.384", L"Версия : 2.385", L"Версия : 2.385"}));
    EXPECT_EQ(line_tags[InfoLine], 4);
}

TEST_F(LineText, TheTwoLinesKeepTheirOwnTags)
{
    set_status(L"Обновление", 1);
    set_info(L"Успешно", 1);
    EXPECT_EQ(status_text(), L"Обновление");
    EXPECT_EQ(info_text(), L"Успешно");
}

}  // namespace
