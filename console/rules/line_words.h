// Several lines in one program: `LABEL=LINE[,SETTINGS]` words on the
// command line, or a profile's `lines = dut, bmc` naming other profiles.
// LINE is anything one line may be (a device, a by-id or usb: name,
// rfc2217://, tcp://, a profile) or attach:TARGET for a served line.
// A label is 1 to 15 letters, digits, '-' and '_', each label once, at
// most LineWordsMax lines. Pure: the caller checks the devices themselves.
#ifndef BRISVANE_CONSOLE_LINE_WORDS_H
#define BRISVANE_CONSOLE_LINE_WORDS_H

const unsigned LineWordCapacity = 1024;

const unsigned LineWordsMax = 9;
const unsigned LineLabelCapacity = 16;

struct LineWord {
    char label[LineLabelCapacity];
    char line[LineWordCapacity];      // as given: a device, a profile, attach:TARGET
    char settings[LineWordCapacity];  // after the first comma, or empty
};

// True when `word` starts with a label and '=' (so it is a line, not a device).
bool IsLineWord(const char* word);

// `count` words, each LABEL=LINE[,SETTINGS]. False with a problem for a
// bad label, the same label twice, more than LineWordsMax lines or an
// empty LINE.
bool ParseLineWords(const char* const* words, unsigned count, LineWord* named, unsigned* namedCount,
                    char* problem, unsigned capacity);

// A profile's `lines` value: names separated by commas (blanks around them
// left out), each both the label and the profile of its line.
bool ParseLinesKey(const char* text, LineWord* named, unsigned* namedCount, char* problem, unsigned capacity);

#endif
