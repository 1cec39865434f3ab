// Raw line settings for the serial ports: 8 data bits, receiver on, modem lines
// ignored, no output or line processing, reads return from the first byte.
// The links open their ports non-blocking: each read waits in poll() first and a
// write that cannot go out is retried against a deadline, so a port whose far end
// stopped never holds a thread past shutdown.
#pragma once

#include <termios.h>

// Applies the settings with `extraCflag` (CSTOPB, HUPCL, ...) and `vtime`
// (tenths of a second between bytes) after flushing pending input; false when
// the port refuses them.
bool plat_serial_raw(int fd, speed_t speed, tcflag_t extraCflag, cc_t vtime);
