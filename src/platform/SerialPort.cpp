// Serial line settings shared by the amplifier, transceiver and CAT ports.
#include "platform/SerialPort.h"

bool plat_serial_raw(int fd, speed_t speed, tcflag_t extraCflag, cc_t vtime) {
    termios t{};
    t.c_iflag = IGNPAR;
    t.c_cflag = CS8 | CREAD | CLOCAL | extraCflag;
    t.c_oflag = 0;
    t.c_lflag = 0;
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = vtime;
    cfsetispeed(&t, speed);
    cfsetospeed(&t, speed);
    tcflush(fd, TCIFLUSH);
    return tcsetattr(fd, TCSANOW, &t) == 0;
}
