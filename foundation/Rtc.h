// The board's battery-backed real-time clock as the operating system presents it: one
// process-wide instance that reads the clock, brings the system clock into line with it
// (stepping when a minute or more apart, slewing when closer) and tells an optional listener
// how that went, plus a window onto the clock chip's spare data memory.
//
// The RTC holds UTC. On Linux the time comes from "/dev/rtc" (opened read-only, so write() only
// reports success). The data area belongs to the chip, so a concrete device class supplies
// readData, writeData and fillData; the typed accessors store values little-endian on top of
// them.
//
// Thread safety: one thread at a time per object, the registered instance included.
#pragma once

#include "foundation/Time.h"
#include "foundation/Types.h"

#include <ctime>

namespace Kovan {

class Rtc {
public:
    class Listener {
    public:
        virtual ~Listener() { }
        // 0: stepped back (the RTC was behind); 1: stepped forward or to an equal time;
        // 2: slewing back; 3: slewing forward or equal.
        virtual void rtcSyncSucceeded(Rtc* rtc, int32 code) = 0;
        // 0: reading the RTC failed; 1: its fields name no instant; 2: stepping failed;
        // 3: slewing failed.
        virtual void rtcSyncFailed(Rtc* rtc, int32 code) = 0;
    };

    // Only one Rtc may live at a time: checks "0 == Rtc::_instance".
    Rtc();
    // Does not close the device.
    virtual ~Rtc();

    Rtc(const Rtc&) = delete;
    Rtc& operator=(const Rtc&) = delete;

    static Rtc* instance() { return _instance; }

    Listener* listener() const { return _listener; }
    void setListener(Listener* listener) { _listener = listener; }
    void setDataAddress(uint32 baseAddr, uint32 maxAddr);

    // Brings the system clock to the RTC's time: slews when less than 60 s apart, else steps.
    // The system clock is untouched when the RTC cannot be read or holds no valid instant.
    bool sync();
    // The RTC's instant as local civil time; invalid when the device cannot be read or its
    // fields name no instant.
    Time getTime();
    // Writes `t` (local civil time) to the device as UTC.
    bool set(const Time& t);

protected:
    virtual bool open();
    virtual void close();
    virtual bool read(tm* tm);
    virtual bool write(const tm& tm);
    virtual void synchronizeToClockTick();

public:
    // Steps the system clock to `t` seconds, 0 microseconds.
    virtual bool setSystemClock(time_t t);
    // Slews the system clock so that it reaches the whole second `t`.
    virtual bool adjustSystemClock(time_t t);

    // The data area, BASE_DATA_ADDRESS..MAX_DATA_ADDRESS; false when out of it or on failure.
    virtual bool readData(uint32 address, void* data, uint32 size) = 0;
    virtual bool writeData(uint32 address, const void* data, uint32 size) = 0;
    virtual bool fillData(uint32 address, uint8 value, uint32 size) = 0;

    // Two decimal digits per byte, the tens in the high nibble; values are taken modulo 100.
    static uint8 BCD_TO_DEC(uint8 value);
    static uint8 DEC_TO_BCD(int32 value);

    bool readBool(uint32 address, bool* value);
    bool readInt8(uint32 address, int8* value);
    bool readUint8(uint32 address, uint8* value);
    bool readInt16(uint32 address, int16* value);
    bool readUint16(uint32 address, uint16* value);
    bool readInt32(uint32 address, int32* value);
    bool readUint32(uint32 address, uint32* value);
    bool readInt64(uint32 address, int64* value);
    bool readUint64(uint32 address, uint64* value);
    bool writeBool(uint32 address, bool value);
    bool writeInt8(uint32 address, int8 value);
    bool writeUint8(uint32 address, uint8 value);
    bool writeInt16(uint32 address, int16 value);
    bool writeUint16(uint32 address, uint16 value);
    bool writeInt32(uint32 address, int32 value);
    bool writeUint32(uint32 address, uint32 value);
    bool writeInt64(uint32 address, int64 value);
    bool writeUint64(uint32 address, uint64 value);

protected:
    // Whether `size` bytes from `address` lie inside the data area (for device classes).
    bool isInDataArea(uint32 address, uint32 size) const;

private:
    bool readUnsigned(uint32 address, uint64* value, uint32 size);
    bool writeUnsigned(uint32 address, uint64 value, uint32 size);

    Listener* _listener;

protected:
    uint32 BASE_DATA_ADDRESS;
    uint32 MAX_DATA_ADDRESS;

private:
    static Rtc* _instance;
};

} // namespace Kovan
