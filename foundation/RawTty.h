// One serial device used raw and binary: open it, set speed, parity, data and stop bits, read
// them back, drive DTR and RTS, read a fixed number of bytes within a time limit, and describe
// the line through trace. Results are 0 (or the descriptor, for open) on success and -1 on
// failure; nothing throws.
//
// Thread safety: one thread per object.
#pragma once

#include "foundation/Types.h"

struct termios;

namespace Kovan {

class RawTty {
public:
    RawTty();
    // Closes the device if it is still open.
    ~RawTty();

    RawTty(const RawTty&) = delete;
    RawTty& operator=(const RawTty&) = delete;

    // Raw mode, 9600 8N1, no flow control, reads that return at once with what is there.
    int32 open(const char* fname);
    void close();
    bool isOpen() const { return -1 != _fd; }
    int32 fd() const { return _fd; }

    // baud: the first standard speed not below it up to 38400, or exactly 57600, or 115200 for
    // anything from 115200 up (a speed strictly between 57600 and 115200 falls back to 9600;
    // one between 38400 and 57600 has no code and fails). parity 'n', 'o' or 'e' (anything
    // else: none); data 5..8 (anything else: 8); stop 1 or 2 (anything else: 1). A failed set
    // leaves the previous settings in force.
    int32 set(int32 baud, char parity, int32 data, int32 stop);
    int32 get(int32* baud, char* parity, int32* data, int32* stop);
    // Raw mode again; hardware flow control when ctsrts is non-zero; with block non-zero a read
    // waits for at least one byte and then for pauses of a tenth of a second.
    int32 reset(int32 ctsrts, int32 block);
    // Output processing on: OPOST, OLCUC and ONLCR.
    int32 setModem();
    int32 setDTR(int32 data);
    int32 setRTS(int32 data);
    // Reads exactly n bytes within utimeout microseconds into buf (n + 1 bytes: a NUL follows
    // what arrived). n when all came, else -1 with the bytes that did arrive left in buf.
    int32 getBlockedOutPut(char* buf, int32 n, long utimeout);
    // Discards output not yet sent.
    void flush();
    void traceStatus();
    void traceModemStatus();

private:
    static void mycfmakeraw(termios* tio);
    int32 setModemLine(int32 bit, int32 data);

    int32 _fd;
};

} // namespace Kovan
