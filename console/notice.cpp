#include "console/notice.h"

#include <cstdarg>
#include <cstdio>

void Say(Notice& notice, const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(notice.text, sizeof notice.text, format, arguments);
    va_end(arguments);
}

void Forget(Notice& notice) { notice.text[0] = '\0'; }
