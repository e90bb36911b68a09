#include "foundation/Rtc.h"

#include "foundation/Bcd.h"
#include "foundation/ClockPolicy.h"
#include "foundation/Trace.h"

#include <cstring>

namespace Kovan {

Rtc* Rtc::_instance = nullptr;

Rtc::Rtc()
    : _listener(nullptr)
    , BASE_DATA_ADDRESS(0)
    , MAX_DATA_ADDRESS(0)
{
    KOVAN_CHECK(0 == Rtc::_instance);
    _instance = this;
}

Rtc::~Rtc() { _instance = nullptr; }

void Rtc::setDataAddress(uint32 baseAddr, uint32 maxAddr)
{
    BASE_DATA_ADDRESS = baseAddr;
    MAX_DATA_ADDRESS = maxAddr;
}

bool Rtc::sync()
{
    tm rtcTime;
    memset(&rtcTime, 0, sizeof(rtcTime));
    // On the two early failures the listener hears first and the trace line follows; once the
    // clock has been touched the line comes first.
    if (!read(&rtcTime)) {
        if (nullptr != _listener)
            _listener->rtcSyncFailed(this, 0);
        trace("readRtc() failed(1)!\n");
        return false;
    }
    const time_t t = Time::utcMkTime(&rtcTime);
    if (t < 0) {
        if (nullptr != _listener)
            _listener->rtcSyncFailed(this, 1);
        trace("invalid time: %d (UTC)\n", static_cast<int>(t));
        return false;
    }
    const time_t ct = time(nullptr);
    if (ClockPolicy::slews(t, ct)) {
        if (adjustSystemClock(t)) {
            trace("Rtc(adj) : time was synchronised successfully: t=%d, ct=%d\n",
                static_cast<int>(t), static_cast<int>(ct));
            if (nullptr != _listener)
                _listener->rtcSyncSucceeded(this, t < ct ? 2 : 3);
            return true;
        }
        trace("Rtc(adj) : failed to set the local time\n");
        if (nullptr != _listener)
            _listener->rtcSyncFailed(this, 3);
        return false;
    }
    if (setSystemClock(t)) {
        trace("Rtc : time was synchronised successfully: t=%d, ct=%d\n", static_cast<int>(t),
            static_cast<int>(ct));
        if (nullptr != _listener)
            _listener->rtcSyncSucceeded(this, t >= ct ? 1 : 0);
        return true;
    }
    trace("Rtc : failed to set the local time: t=%d, ct=%d\n", static_cast<int>(t),
        static_cast<int>(ct));
    if (nullptr != _listener)
        _listener->rtcSyncFailed(this, 2);
    return false;
}

Time Rtc::getTime()
{
    tm rtcTime;
    memset(&rtcTime, 0, sizeof(rtcTime));
    if (!read(&rtcTime)) {
        trace("readRtc() failed(2)!\n");
        return Time();
    }
    const time_t t = Time::utcMkTime(&rtcTime);
    // Time(-1) would read as the last second of 1969, which a Time stores as 2033.
    if (t < 0)
        return Time();
    return Time(t);
}

bool Rtc::set(const Time& t)
{
    const time_t value = static_cast<time_t>(t);
    trace("Rtc::set(%d) Called!!!!!!!!\n", static_cast<int>(value));
    tm utc;
    if (!Time::gmTime(value, &utc))
        return false;
    return write(utc);
}

uint8 Rtc::BCD_TO_DEC(uint8 value) { return static_cast<uint8>(fromBcd(value)); }

uint8 Rtc::DEC_TO_BCD(int32 value)
{
    return toBcd(static_cast<int32>(static_cast<uint32>(value) % 100));
}

bool Rtc::isInDataArea(uint32 address, uint32 size) const
{
    if (0 == size)
        return BASE_DATA_ADDRESS <= address && address <= MAX_DATA_ADDRESS + 1;
    // Written so that no sum can wrap around.
    return BASE_DATA_ADDRESS <= address && address <= MAX_DATA_ADDRESS
        && size - 1 <= MAX_DATA_ADDRESS - address;
}

bool Rtc::readUnsigned(uint32 address, uint64* value, uint32 size)
{
    uint8 bytes[8];
    if (!readData(address, bytes, size))
        return false;
    uint64 v = 0;
    for (uint32 i = size; i > 0; --i)
        v = (v << 8) | bytes[i - 1];
    *value = v;
    return true;
}

bool Rtc::writeUnsigned(uint32 address, uint64 value, uint32 size)
{
    uint8 bytes[8];
    for (uint32 i = 0; i < size; ++i)
        bytes[i] = static_cast<uint8>(value >> (8 * i));
    return writeData(address, bytes, size);
}

bool Rtc::readBool(uint32 address, bool* value)
{
    uint64 v;
    if (!readUnsigned(address, &v, 1))
        return false;
    *value = 0 != v;
    return true;
}

#define KOVAN_RTC_READ(name, type)                                                                 \
    bool Rtc::name(uint32 address, type* value)                                                    \
    {                                                                                              \
        uint64 v;                                                                                  \
        if (!readUnsigned(address, &v, sizeof(type)))                                              \
            return false;                                                                          \
        *value = static_cast<type>(v);                                                             \
        return true;                                                                               \
    }

KOVAN_RTC_READ(readInt8, int8)
KOVAN_RTC_READ(readUint8, uint8)
KOVAN_RTC_READ(readInt16, int16)
KOVAN_RTC_READ(readUint16, uint16)
KOVAN_RTC_READ(readInt32, int32)
KOVAN_RTC_READ(readUint32, uint32)
KOVAN_RTC_READ(readInt64, int64)
KOVAN_RTC_READ(readUint64, uint64)
#undef KOVAN_RTC_READ

bool Rtc::writeBool(uint32 address, bool value) { return writeUnsigned(address, value ? 1 : 0, 1); }

// Signed values go through their unsigned form of the same width, so -1 is stored as all ones.
#define KOVAN_RTC_WRITE(name, type, utype)                                                         \
    bool Rtc::name(uint32 address, type value)                                                     \
    {                                                                                              \
        return writeUnsigned(address, static_cast<utype>(value), sizeof(type));                    \
    }

KOVAN_RTC_WRITE(writeInt8, int8, uint8)
KOVAN_RTC_WRITE(writeUint8, uint8, uint8)
KOVAN_RTC_WRITE(writeInt16, int16, uint16)
KOVAN_RTC_WRITE(writeUint16, uint16, uint16)
KOVAN_RTC_WRITE(writeInt32, int32, uint32)
KOVAN_RTC_WRITE(writeUint32, uint32, uint32)
KOVAN_RTC_WRITE(writeInt64, int64, uint64)
KOVAN_RTC_WRITE(writeUint64, uint64, uint64)
#undef KOVAN_RTC_WRITE

} // namespace Kovan
