// Settings notation: the texts a user writes for the line and for the
// text-send pause, read the same way by both front ends.
//
// Line settings come in the serial mode command's two notations:
//   "9600,n,8,1"                            speed, parity, data bits, stop bits
//   "baud=9600 parity=n data=8 stop=1"     the same as keywords, any order
// Fields may be left out (trailing ones in the first form); they keep the
// defaults 9600, n, 8, 1. Two-digit speeds are the old abbreviations
// (96 is 9600, 19 is 19200). Parity is n, e, o, m or s; data 5..8; stop 1,
// 1.5 or 2.
#ifndef BRISVANE_LINK_SETTINGS_NOTATION_H
#define BRISVANE_LINK_SETTINGS_NOTATION_H

#include <cstdint>

enum class Parity : uint8_t { None, Even, Odd, Mark, Space };
enum class StopBits : uint8_t { One, OneAndHalf, Two };

struct LineSettings {
    uint32_t baud;
    Parity parity;
    uint8_t dataBits;  // 5..8
    StopBits stopBits;
};

const LineSettings DefaultLineSettings = {9600, Parity::None, 8, StopBits::One};

// Reads `text` into *settings (starting from the defaults). On a fault
// returns false and points *problem at a short description, such as
// "parity must be n, e, o, m or s"; *settings is then unspecified.
bool ParseLineSettings(const char* text, LineSettings* settings, const char** problem);

// Writes the settings in the first notation ("9600,n,8,1") into `text`,
// always terminated (cut to fit).
void FormatLineSettings(const LineSettings& settings, char* text, unsigned capacity);

// The longest pause after a text-send byte: the pause blocks the whole
// program, so anything longer would look like a hang.
const uint32_t MaxCharacterInterval = 10000;

// A decimal number of milliseconds, leading blanks allowed. Empty, letters
// or a minus sign give 0; values above MaxCharacterInterval (however large)
// give MaxCharacterInterval.
uint32_t CharacterIntervalFromText(const char* text);

#endif
