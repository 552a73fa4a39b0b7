// The header's lines, the same in both windows (UTF-8).
#pragma once
#include "port_cycle.h"

constexpr unsigned HEADER_TEXT_CAPACITY = 1400;
extern const char STATION_CAPTION[];
extern const char TEST_RELEASE_TEXT[];

// "Прошивка 2.385 · TYPE · CRC_FIRMWARE 0x… · SHA-256 <16 hex digits>"; true when the image
// is the placeholder (a test release).
bool firmware_line(char* out, unsigned capacity);
void counters_line(char* out, unsigned capacity);
// Where records go, or that they do not.
void records_line(const char* path, char* out, unsigned capacity);
// The tile's colour as a word, for accessibility tools and the tests.
const char* tile_colour_word(TileColour colour);
