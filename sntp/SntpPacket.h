// The SNTP datagrams exchanged on UDP port 123 (the 48-byte NTP header of RFC 4330 and its
// optional 20-byte authenticator) and the client's digest of one exchange. Wire structures
// hold every multi-byte field in network byte order; nothing received is trusted beyond its
// bytes.
//
// Thread safety: plain values and pure functions, usable from any thread.
#pragma once

#include "foundation/Types.h"
#include "sntp/SntpTime.h"

#include <cstddef>

namespace Kovan {

// The NTP header in wire order. The root delay and dispersion are unsigned 16.16 seconds on the
// wire whatever their declared type: read them with sntpShortToSeconds.
//
// OFFSET SIZE FIELD
//      0    1 li_vn_mode      leap indicator (bits 7-6), version (5-3), mode (2-0)
//      1    1 stratum
//      2    1 ppoll           poll interval exponent
//      3    1 precision       clock precision exponent (signed)
//      4    4 rootdelay
//      8    4 rootdispersion
//     12    4 refid
//     16    8 reftime
//     24    8 org             the client's transmit time, echoed by the server
//     32    8 rec             when the server received the request
//     40    8 xmt             when the sender sent this packet
struct SntpBasicInfo {
    uint8 li_vn_mode;
    uint8 stratum;
    uint8 ppoll;
    char precision;
    int32 rootdelay;
    int32 rootdispersion;
    uint32 refid;
    SntpTimePacket reftime;
    SntpTimePacket org;
    SntpTimePacket rec;
    SntpTimePacket xmt;
};

// The NTP authenticator.
//
// OFFSET SIZE FIELD
//      0    4 key_id
//      4   16 msg             message digest
struct SntpAuthenticationInfo {
    uint32 key_id;
    uint8 msg[16];
};

// Replies are received into, and the server's replies sent from, this full form; only `basic`
// is interpreted.
//
// OFFSET SIZE FIELD
//      0   48 basic
//     48   20 auth
struct SntpFullPacket {
    SntpBasicInfo basic;
    SntpAuthenticationInfo auth;
};

static_assert(sizeof(SntpBasicInfo) == 48, "the NTP header is 48 bytes");
static_assert(offsetof(SntpBasicInfo, li_vn_mode) == 0 && offsetof(SntpBasicInfo, stratum) == 1
        && offsetof(SntpBasicInfo, ppoll) == 2 && offsetof(SntpBasicInfo, precision) == 3
        && offsetof(SntpBasicInfo, rootdelay) == 4 && offsetof(SntpBasicInfo, rootdispersion) == 8
        && offsetof(SntpBasicInfo, refid) == 12 && offsetof(SntpBasicInfo, reftime) == 16
        && offsetof(SntpBasicInfo, org) == 24 && offsetof(SntpBasicInfo, rec) == 32
        && offsetof(SntpBasicInfo, xmt) == 40,
    "NTP header field offsets");
static_assert(sizeof(SntpAuthenticationInfo) == 20, "the authenticator is 20 bytes");
static_assert(offsetof(SntpAuthenticationInfo, msg) == 4, "authenticator digest offset");
static_assert(sizeof(SntpFullPacket) == 68, "a full packet is 68 bytes");
static_assert(offsetof(SntpFullPacket, auth) == 48, "the authenticator follows the header");
static_assert(offsetof(SntpTimePacket, fraction) == 4, "timestamp fraction offset");

// The first byte: leap indicator in bits 7-6, version in bits 5-3, mode in bits 2-0. Every
// reading and building of it goes through these.
constexpr uint8 SNTP_MODE_CLIENT = 3;
constexpr uint8 SNTP_MODE_SERVER = 4;
constexpr uint8 SNTP_LEAP_NONE = 0;
constexpr uint8 SNTP_LEAP_ADD_SECOND = 1;
constexpr uint8 SNTP_LEAP_DELETE_SECOND = 2;
constexpr uint8 SNTP_LEAP_UNSYNCHRONISED = 3; // the server's clock is not set: do not believe it
constexpr uint8 SNTP_VERSION_MIN = 1;
constexpr uint8 SNTP_VERSION_MAX = 4;
// Stratum 0 is a kiss-o'-death (the reference id holds four letters saying why); 16 and above
// mean unsynchronised.
constexpr uint8 SNTP_STRATUM_KISS = 0;
constexpr uint8 SNTP_STRATUM_MAX = 15;

constexpr uint8 sntpLeap(uint8 firstByte) { return static_cast<uint8>(firstByte >> 6); }
constexpr uint8 sntpVersion(uint8 firstByte) { return static_cast<uint8>((firstByte >> 3) & 7); }
constexpr uint8 sntpMode(uint8 firstByte) { return static_cast<uint8>(firstByte & 7); }
constexpr uint8 sntpFirstByte(uint8 leap, uint8 version, uint8 mode)
{
    return static_cast<uint8>((leap & 3) << 6 | (version & 7) << 3 | (mode & 7));
}

// The first byte of a request (leap 0, version 3, mode 3: client) and of the server's reply
// (leap 0, version 3, mode 4: server).
constexpr uint8 SNTP_CLIENT_LI_VN_MODE = sntpFirstByte(SNTP_LEAP_NONE, 3, SNTP_MODE_CLIENT);
constexpr uint8 SNTP_SERVER_LI_VN_MODE = sntpFirstByte(SNTP_LEAP_NONE, 3, SNTP_MODE_SERVER);
static_assert(SNTP_CLIENT_LI_VN_MODE == 0x1B && SNTP_SERVER_LI_VN_MODE == 0x1C, "first bytes");

// The NTP short format of the root delay and dispersion: an UNSIGNED 16.16 count of seconds, as
// it stands in the packet (network order). 0xFFFFFFFF is just under 65536 s, never negative.
double sntpShortToSeconds(uint32 networkValue);
// Seconds to that form, rounded up (a dispersion is never claimed smaller than it is), from 0 to
// the largest value; not a number gives the largest.
uint32 sntpSecondsToShort(double seconds);

// What the modern server makes of a datagram. Only ANSWER is answered: anything else (too short
// to be a request, a reply or a control message, a version it does not speak) gets silence, so
// no reply is larger than its request and no reply ever answers a reply.
enum class SntpRequestVerdict { ANSWER, TOO_SHORT, NOT_REQUEST, BAD_VERSION };
SntpRequestVerdict classifySntpRequest(const uint8* datagram, size_t length);

// What the strict client makes of a datagram that came from the server's address and port, for
// the request whose transmit time was `originate`. `destination` is the client's clock when it
// arrived and `localRoundTrip` the seconds from send to arrival by a clock that does not jump.
// ACCEPTED and KISS carry the request's own transmit time in org; every other verdict names the
// first check that failed, in this order:
enum class SntpReplyVerdict {
    ACCEPTED,
    KISS, // stratum 0: the server says go away
    TOO_SHORT, // under 48 bytes
    NOT_SERVER, // mode other than 4
    BAD_VERSION, // version 0 or above 4
    NOT_OURS, // org is not our request's transmit time: forged, or late from an earlier one
    BAD_STRATUM, // 16 or above
    UNSYNCHRONISED, // leap indicator 3
    NO_TIME, // receive or transmit time 0
    TRANSMIT_BEFORE_RECEIVE,
    BAD_DELAY, // negative, or longer than the round trip measured here
    BAD_REFERENCE, // reference time 0 or later than the transmit time
    TOO_FAR, // root distance (root delay / 2 + root dispersion) of 1 s or more
};
SntpReplyVerdict classifySntpReply(const uint8* datagram, size_t length, uint64 originate,
    uint64 destination, double localRoundTrip);
// A short English phrase for a verdict ("transmit time before receive time").
const char* sntpVerdictText(SntpReplyVerdict verdict);

// How far a delay may fall below zero, or above the local round trip, and still be believed: the
// strict request's transmit time is random below 2^-20 s.
constexpr double SNTP_DELAY_TOLERANCE = 1.0 / 1048576.0;
// RFC 5905's MAXDIST: a server further than this from its reference is no reference.
constexpr double SNTP_MAX_ROOT_DISTANCE = 1.0;

// The result of one client exchange, in host values.
struct SntpServerResponse {
    int32 leapIndicator; // bits 7-6 of the reply's first byte, 0-3
    int32 stratum;
    SntpTime oriTime; // T1: the reply's org
    SntpTime recTime; // T2: the reply's rec
    SntpTime xmtTime; // T3: the reply's xmt
    SntpTime desTime; // T4: the client's clock when the reply became readable
    double delay; // round trip, seconds
    double offset; // seconds to add to the client's clock to obtain the server's time

    // The other fields carry no meaning until a query fills them; they start at zero rather
    // than at whatever the memory held.
    SntpServerResponse()
        : leapIndicator(0)
        , stratum(0)
        , delay(0.0)
        , offset(0.0)
    {
    }
};

} // namespace Kovan
