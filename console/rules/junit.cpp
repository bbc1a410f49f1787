#include "console/rules/junit.h"

namespace {

void Utf8(std::string& out, uint32_t code) {
    if (code < 0x800) {
        out += char(0xC0 | (code >> 6));
        out += char(0x80 | (code & 0x3F));
    } else {
        out += char(0xE0 | (code >> 12));
        out += char(0x80 | ((code >> 6) & 0x3F));
        out += char(0x80 | (code & 0x3F));
    }
}

// The length of the valid UTF-8 sequence at `at` that is an XML 1.0
// character, or 0.
unsigned ValidSequence(const unsigned char* at, size_t left) {
    unsigned char first = at[0];
    unsigned length = first >= 0xF0 ? 4 : first >= 0xE0 ? 3 : 2;
    if (first < 0xC2 || first > 0xF4 || left < length) return 0;
    uint32_t code = first & (0x3F >> (length - 1));
    for (unsigned i = 1; i < length; ++i) {
        if ((at[i] & 0xC0) != 0x80) return 0;
        code = (code << 6) | (at[i] & 0x3F);
    }
    bool shortest = code >= (length == 2 ? 0x80u : length == 3 ? 0x800u : 0x10000u);
    bool character =
        !(code >= 0xD800 && code <= 0xDFFF) && code != 0xFFFE && code != 0xFFFF && code <= 0x10FFFF;
    return shortest && character ? length : 0;
}

void Attribute(std::string& out, const char* name, const std::string& value) {
    out += ' ';
    out += name;
    out += "=\"";
    AppendXmlText(out, value.data(), value.size(), true);
    out += '"';
}

void Counts(std::string& out, const TestSuite& suite) {
    unsigned failed = 0;
    for (const TestCase& test : suite.cases) failed += test.failed ? 1 : 0;
    out += " tests=\"" + std::to_string(suite.cases.size()) + "\" failures=\"" + std::to_string(failed) +
           "\" errors=\"0\" skipped=\"0\" time=\"" + Seconds(suite.milliseconds) + "\"";
}

void Element(std::string& out, const char* indent, const char* name, const std::string& text) {
    out += indent;
    out += std::string("<") + name + ">";
    AppendXmlText(out, text.data(), text.size(), false);
    out += std::string("</") + name + ">\n";
}

}  // namespace

void AppendXmlText(std::string& out, const char* text, size_t count, bool attribute) {
    const unsigned char* at = reinterpret_cast<const unsigned char*>(text);
    for (size_t i = 0; i < count;) {
        unsigned char byte = at[i];
        if (byte >= 0x80) {
            unsigned length = ValidSequence(at + i, count - i);
            if (length == 0) {
                Utf8(out, 0xFFFD);
                ++i;
            } else {
                out.append(text + i, length);
                i += length;
            }
            continue;
        }
        ++i;
        switch (byte) {
            case '&': out += "&amp;"; continue;
            case '<': out += "&lt;"; continue;
            case '>': out += "&gt;"; continue;
            case '"': out += "&quot;"; continue;
            case '\'': out += "&apos;"; continue;
            case '\r': out += "&#13;"; continue;
            case '\t':
            case '\n':
                if (attribute) {
                    out += byte == '\t' ? "&#9;" : "&#10;";
                } else {
                    out += char(byte);
                }
                continue;
            default: break;
        }
        if (byte < 0x20) {
            Utf8(out, 0x2400 + byte);
        } else if (byte == 0x7F) {
            Utf8(out, 0x2421);
        } else {
            out += char(byte);
        }
    }
}

std::string Seconds(int64_t milliseconds) {
    if (milliseconds < 0) milliseconds = 0;
    std::string fraction = std::to_string(milliseconds % 1000);
    return std::to_string(milliseconds / 1000) + "." + std::string(3 - fraction.size(), '0') + fraction;
}

std::string JunitDocument(const TestSuite& suite) {
    std::string out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<testsuites";
    Attribute(out, "name", suite.name);
    Counts(out, suite);
    out += ">\n  <testsuite";
    Attribute(out, "name", suite.name);
    Counts(out, suite);
    if (!suite.timestamp.empty()) Attribute(out, "timestamp", suite.timestamp);
    if (!suite.hostname.empty()) Attribute(out, "hostname", suite.hostname);
    out += ">\n";
    for (const TestCase& test : suite.cases) {
        out += "    <testcase";
        Attribute(out, "classname", test.classname);
        Attribute(out, "name", test.name);
        out += " time=\"" + Seconds(test.milliseconds) + "\"";
        if (!test.failed && test.output.empty()) {
            out += "/>\n";
            continue;
        }
        out += ">\n";
        if (test.failed) {
            out += "      <failure";
            Attribute(out, "message", test.message);
            Attribute(out, "type", test.kind);
            out += ">";
            AppendXmlText(out, test.details.data(), test.details.size(), false);
            out += "</failure>\n";
        }
        if (!test.output.empty()) Element(out, "      ", "system-out", test.output);
        out += "    </testcase>\n";
    }
    out += "  </testsuite>\n</testsuites>\n";
    return out;
}
