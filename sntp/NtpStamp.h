// Full-resolution NTP time stamps, as RFC 5905 puts them on the wire and as the strict client and
// the modern server compute with them: 32 bits of seconds within an era and 32 bits of binary
// fraction (2^-32 s, scaled by 2^32, not by the 2^32 - 1 of SntpTime's millisecond conversions).
// Era 0 began 1900-01-01 00:00:00 UTC, era 1 begins 2036-02-07 06:28:16 UTC; a stamp does not
// say its era, so every conversion back to a calendar instant takes a nearby instant to place it,
// and differences are taken modulo 2^64, which is right for stamps less than 68 years apart.
//
// This is the one home of the epoch offset and of the wire form of a time stamp: SntpTime reads
// and writes packets through it.
//
// Thread safety: stateless; every function may be called from any thread.
#pragma once

#include "foundation/Types.h"

#include <arpa/inet.h>
#include <ctime>

namespace Kovan {

// A timestamp as it stands inside a packet: both words in network byte order.
//
// OFFSET SIZE FIELD
//      0    4 sec       seconds since 1900 (within the era)
//      4    4 fraction  fraction of a second
struct SntpTimePacket {
    uint32 sec;
    uint32 fraction;
};
static_assert(sizeof(SntpTimePacket) == 8, "SntpTimePacket is 8 bytes on the wire");

struct NtpStamp {
    // 1900-01-01 to 1970-01-01 in seconds (0x83AA7E80).
    static constexpr int64 UNIX_TO_NTP = 2208988800;
    static constexpr double FRACTION_PER_SECOND = 4294967296.0;

    // `ts` as a stamp of its era (the seconds modulo 2^32), the fraction rounded to the nearest
    // 2^-32 s. Nanoseconds survive a round trip through toTimespec exactly.
    static uint64 fromTimespec(const timespec& ts)
    {
        const uint32 seconds = static_cast<uint32>(static_cast<int64>(ts.tv_sec) + UNIX_TO_NTP);
        const uint64 fraction
            = ((static_cast<uint64>(ts.tv_nsec) << 32) + 500000000u) / 1000000000u;
        return (static_cast<uint64>(seconds) << 32) + fraction;
    }

    // The instant `stamp` names in the era that puts it within 68 years of `near`.
    static timespec toTimespec(uint64 stamp, const timespec& near)
    {
        const int64 nearSeconds = static_cast<int64>(near.tv_sec) + UNIX_TO_NTP;
        const int32 ahead = static_cast<int32>(
            static_cast<uint32>(stamp >> 32) - static_cast<uint32>(nearSeconds));
        int64 seconds = nearSeconds + ahead - UNIX_TO_NTP;
        uint64 nanoseconds = ((stamp & 0xFFFFFFFFu) * 1000000000u + 0x80000000u) >> 32;
        if (nanoseconds >= 1000000000u) {
            nanoseconds -= 1000000000u;
            ++seconds;
        }
        timespec ts;
        ts.tv_sec = static_cast<time_t>(seconds);
        ts.tv_nsec = static_cast<long>(nanoseconds);
        return ts;
    }

    // a - b in seconds, whatever era each is in, for stamps less than 68 years apart.
    static double difference(uint64 a, uint64 b)
    {
        return static_cast<double>(static_cast<int64>(a - b)) / FRACTION_PER_SECOND;
    }

    // The wire form: both words in network byte order.
    static uint64 fromWire(const SntpTimePacket& packet)
    {
        return (static_cast<uint64>(ntohl(packet.sec)) << 32) + ntohl(packet.fraction);
    }
    static SntpTimePacket toWire(uint64 stamp)
    {
        SntpTimePacket packet;
        packet.sec = htonl(static_cast<uint32>(stamp >> 32));
        packet.fraction = htonl(static_cast<uint32>(stamp));
        return packet;
    }

    // The system clock (CLOCK_REALTIME) now.
    static uint64 now()
    {
        timespec ts;
        clock_gettime(CLOCK_REALTIME, &ts);
        return fromTimespec(ts);
    }
};

} // namespace Kovan
