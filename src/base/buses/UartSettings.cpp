#include "base/buses/UartSettings.h"

namespace HardwareInterface {

speed_t uartSpeed(int baud)
{
    switch (baud) {
    case 1200: return B1200;
    case 1800: return B1800;
    case 4800: return B4800;
    case 9600: return B9600;
    case 38400: return B38400;
    case 57600: return B57600;
    case 115200: return B115200;
    default: return B19200;
    }
}

termios uartSettings(const termios& current, int baud, char parity, int dataBits, int stopBits)
{
    termios tio = current;
    cfmakeraw(&tio);
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 20;

    const speed_t speed = uartSpeed(baud);
    cfsetispeed(&tio, speed);
    cfsetospeed(&tio, speed);

    tio.c_iflag &= ~(ICRNL | IXON);
    tio.c_oflag &= ~OPOST;
    tio.c_cflag &= ~(CSIZE | CRTSCTS);
    tio.c_cflag |= CLOCAL | CREAD;
    switch (dataBits) {
    case 5: tio.c_cflag |= CS5; break;
    case 6: tio.c_cflag |= CS6; break;
    case 7: tio.c_cflag |= CS7; break;
    default: tio.c_cflag |= CS8; break;
    }

    switch (parity) {
    case 'E':
    case 'e':
        tio.c_cflag |= PARENB;
        tio.c_cflag &= ~PARODD;
        break;
    case 'O':
    case 'o':
        tio.c_cflag |= PARENB | PARODD;
        break;
    default:
        tio.c_cflag &= ~PARENB;
        break;
    }

    if (stopBits == 2)
        tio.c_cflag |= CSTOPB;
    else
        tio.c_cflag &= ~CSTOPB;

    tio.c_lflag &= ~(ICANON | ECHO | ECHOE | ISIG);
    return tio;
}

} // namespace HardwareInterface
