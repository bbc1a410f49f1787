#include "console/rules/notice.h"

#include <cstdarg>
#include <cstdio>

void Say(Notice& notice, const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(notice.text, sizeof notice.text, format, arguments);
    va_end(arguments);
    notice.expires = 0;
}

void SayUntil(Notice& notice, int64_t expires, const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(notice.text, sizeof notice.text, format, arguments);
    va_end(arguments);
    notice.expires = expires;
}

void Forget(Notice& notice) {
    notice.text[0] = '\0';
    notice.expires = 0;
}
