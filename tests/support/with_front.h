// A line's state for a test, saying what it has to say through `front`
// (the program gives every line its front end).
#ifndef BRISVANE_TESTS_WITH_FRONT_H
#define BRISVANE_TESTS_WITH_FRONT_H

#include "console/program/session.h"

inline Session* WithFront(Session* session, FrontEnd* front) {
    session->front = front;
    return session;
}

#endif
