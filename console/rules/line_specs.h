// Several lines in one program: `LABEL=LINE[,SETTINGS]` words on the
// command line, or a profile's `lines = dut, bmc` naming other profiles.
// LINE is anything one line may be (a device, a by-id or usb: name,
// rfc2217://, tcp://, a profile) or attach:TARGET for a served line.
// A label is 1 to 15 letters, digits, '-' and '_', each label once, at
// most LineSpecsMax lines. Pure: the caller checks the devices themselves.
#ifndef BRISVANE_CONSOLE_LINE_SPECS_H
#define BRISVANE_CONSOLE_LINE_SPECS_H

const unsigned LineSpecCapacity = 1024;

const unsigned LineSpecsMax = 9;
const unsigned LineLabelCapacity = 16;

struct LineSpec {
    char label[LineLabelCapacity];
    char line[LineSpecCapacity];      // as given: a device, a profile, attach:TARGET
    char settings[LineSpecCapacity];  // after the first comma, or empty
};

// True when `word` starts with a label and '=' (so it is a line, not a device).
bool IsLineSpec(const char* word);

// `count` words, each LABEL=LINE[,SETTINGS]. False with a problem for a
// bad label, the same label twice, more than LineSpecsMax lines or an
// empty LINE.
bool ParseLineSpecs(const char* const* words, unsigned count, LineSpec* specs, unsigned* specCount,
                    char* problem, unsigned capacity);

// A profile's `lines` value: names separated by commas (blanks around them
// left out), each both the label and the profile of its line.
bool ParseLinesKey(const char* text, LineSpec* specs, unsigned* specCount, char* problem, unsigned capacity);

#endif
