// The SNTP datagrams exchanged on UDP port 123 (the 48-byte NTP header of RFC 4330 and its
// optional 20-byte authenticator) and the client's digest of one exchange. Wire structures
// hold every multi-byte field in network byte order; nothing received is trusted beyond its
// bytes.
#pragma once

#include "foundation/Types.h"
#include "sntp/SntpTime.h"

#include <cstddef>

namespace Kovan {

// The NTP header in wire order.
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

// The first byte of a request (leap 0, version 3, mode 3: client) and of the server's reply
// (leap 0, version 3, mode 4: server).
constexpr uint8 SNTP_CLIENT_LI_VN_MODE = 0x1B;
constexpr uint8 SNTP_SERVER_LI_VN_MODE = 0x1C;

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
