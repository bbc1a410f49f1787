// The stamps at the start of the text log's lines (--timestamp-format).
// A stamp is made from the time a line's first byte arrived, the time the
// log started and the previous line's time:
//   24h         "[2026-12-07 14:03:12.345] "   local time (the default)
//   24h-start   "[+00:01:02.345] "             since the log started
//   24h-delta   "[+00:00:00.120] "             since the previous line
//   iso8601     "[2026-12-07T14:03:12.345+01:00] "
//   epoch       "[1765112592.345] "            seconds since 1970, UTC
//   epoch-usec  "[1765112592.345678] "
//   a strftime pattern (anything with a %), with %f for the microseconds:
//               "%H:%M:%S.%f" gives "14:03:12.345678 " (a blank after it)
// Pure: the caller gives the times.
#ifndef BRISVANE_CONSOLE_TIMESTAMP_H
#define BRISVANE_CONSOLE_TIMESTAMP_H

#include <cstdint>
#include <ctime>

enum class StampFormat : uint8_t { Clock, SinceStart, SincePrevious, Iso8601, Epoch, EpochMicro, Pattern };

const unsigned StampPatternCapacity = 64;
const unsigned StampCapacity = 128;  // room for any stamp

// Plain data: zeroed, it is the default format.
struct StampStyle {
    StampFormat format;
    char pattern[StampPatternCapacity];  // for Pattern
};

// Reads a format name or a strftime pattern; false (the style untouched)
// for an unknown name, an empty or too long pattern.
bool ParseStampFormat(const char* text, StampStyle* style);

// The style's name as --timestamp-format takes it.
const char* StampFormatName(const StampStyle& style);

// The next format of the menu's cycle after `format` (Pattern goes to Clock).
StampFormat NextStampFormat(StampFormat format);

// The local date and time of one second, kept between stamps: the time
// zone is looked up once a second, not once a line.
struct StampCache {
    time_t second = -1;
    StampFormat format = StampFormat::Clock;
    char text[64] = "";
    long offset = 0;  // minutes east of UTC
};

// The stamp for a line that began at `at`; returns its length (the text is
// cut to `capacity`). A time before `start` or `previous` counts as 0.
unsigned FormatStamp(const StampStyle& style, const struct timespec& at, const struct timespec& start,
                     const struct timespec& previous, char* text, unsigned capacity,
                     StampCache* cache = nullptr);

#endif
