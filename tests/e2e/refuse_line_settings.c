/* Preloaded into Wine for one test: the serial driver then refuses every
   line setting, as a real driver does with settings it cannot do. */
#include <errno.h>
#include <termios.h>

int tcsetattr(int fd, int action, const struct termios *settings) {
    (void)fd;
    (void)action;
    (void)settings;
    errno = EINVAL;
    return -1;
}
