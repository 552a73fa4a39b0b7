// The remembered port in the registry of the test prefix.
#include <gtest/gtest.h>
#include <windows.h>

#include <vector>

#include "settings_store.h"

namespace {

const wchar_t KEY[] = L"Software\\Ostrel\\TQ734 Updater";

// Removes the key (and its parent when that was all it held).
void delete_key()
{
    RegDeleteKeyW(HKEY_CURRENT_USER, KEY);
    RegDeleteKeyW(HKEY_CURRENT_USER, L"Software\\Ostrel");
}

// Stores COMport as the test wants it, bypassing the store.
void plant(DWORD type, const std::vector<BYTE>& data)
{
    HKEY key;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, KEY, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExW(key, L"COMport", 0, type, data.data(), static_cast<DWORD>(data.size())),
              ERROR_SUCCESS);
    RegCloseKey(key);
}

// COMport as a little-endian 32-bit REG_DWORD.
void plant_dword(DWORD value)
{
    plant(REG_DWORD, {BYTE(value), BYTE(value >> 8), BYTE(value >> 16), BYTE(value >> 24)});
}

struct SettingsStore : ::testing::Test {
    void SetUp() override { delete_key(); }
    void TearDown() override { delete_key(); }
};

TEST_F(SettingsStore, NothingStoredLoadsZero)
{
    EXPECT_EQ(load_port(), 0);
    HKEY key;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, KEY, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    RegCloseKey(key);
    EXPECT_EQ(load_port(), 0);  // the key without the value
}

TEST_F(SettingsStore, RememberedPortIsAFourByteDword)
{
    remember_port(7);
    EXPECT_EQ(load_port(), 7);
    HKEY key;
    ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, KEY, 0, KEY_QUERY_VALUE, &key), ERROR_SUCCESS);
    DWORD type = 0, value = 0, size = sizeof value;
    EXPECT_EQ(RegQueryValueExW(key, L"COMport", nullptr, &type, reinterpret_cast<BYTE*>(&value), &size),
              ERROR_SUCCESS);
    RegCloseKey(key);
    EXPECT_EQ(type, DWORD(REG_DWORD));
    EXPECT_EQ(size, 4u);
    EXPECT_EQ(value, 7u);

    remember_port(65535);  // zero-extended, not sign-extended
    EXPECT_EQ(load_port(), 65535);
    remember_port(300);
    EXPECT_EQ(load_port(), 300);
}

TEST_F(SettingsStore, UpperBitsAreIgnored)
{
    plant_dword(0x00050007);
    EXPECT_EQ(load_port(), 7);
    plant_dword(0xFFFF0000);
    EXPECT_EQ(load_port(), 0);
    plant_dword(0x8001FFFE);
    EXPECT_EQ(load_port(), 0xFFFE);
}

TEST_F(SettingsStore, TheStoredTypeIsNotExamined)
{
    plant(REG_BINARY, {0x0C, 0x00, 0x00, 0x00});
    EXPECT_EQ(load_port(), 12);
    plant(REG_SZ, {'7', 0, 0, 0});  // L"7": its bytes, not its text
    EXPECT_EQ(load_port(), 0x37);
    plant(REG_DWORD_BIG_ENDIAN, {0x00, 0x00, 0x00, 0x05});
    EXPECT_EQ(load_port(), 0);
}

TEST_F(SettingsStore, ShorterValuesAreZeroFilled)
{
    plant(REG_BINARY, {0x09});
    EXPECT_EQ(load_port(), 9);
    plant(REG_BINARY, {0xFF});
    EXPECT_EQ(load_port(), 0xFF);
    plant(REG_BINARY, {0x34, 0x12});
    EXPECT_EQ(load_port(), 0x1234);
    plant(REG_BINARY, {0x34, 0x12, 0x56});
    EXPECT_EQ(load_port(), 0x1234);
    plant(REG_BINARY, {});
    EXPECT_EQ(load_port(), 0);
}

TEST_F(SettingsStore, LongerValuesCountAsNothingStored)
{
    plant(REG_BINARY, {0x07, 0x00, 0x00, 0x00, 0x00});
    EXPECT_EQ(load_port(), 0);
    plant(REG_QWORD, {0x07, 0, 0, 0, 0, 0, 0, 0});
    EXPECT_EQ(load_port(), 0);
    plant(REG_SZ, {'5', 0, '5', 0, 0, 0});
    EXPECT_EQ(load_port(), 0);
}

}  // namespace
