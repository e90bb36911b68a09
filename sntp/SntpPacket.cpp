#include "sntp/SntpPacket.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cmath>
#include <cstring>

namespace Kovan {

double sntpShortToSeconds(uint32 networkValue)
{
    return static_cast<double>(ntohl(networkValue)) / 65536.0;
}

uint32 sntpSecondsToShort(double seconds)
{
    const double largest = 4294967295.0;
    const double scaled = std::isnan(seconds) ? largest : std::ceil(seconds * 65536.0);
    return htonl(static_cast<uint32>(std::min(std::max(scaled, 0.0), largest)));
}

SntpRequestVerdict classifySntpRequest(const uint8* datagram, size_t length)
{
    if (length < sizeof(SntpBasicInfo))
        return SntpRequestVerdict::TOO_SHORT;
    if (sntpMode(datagram[0]) != SNTP_MODE_CLIENT)
        return SntpRequestVerdict::NOT_REQUEST;
    const uint8 version = sntpVersion(datagram[0]);
    if (version < SNTP_VERSION_MIN || version > SNTP_VERSION_MAX)
        return SntpRequestVerdict::BAD_VERSION;
    return SntpRequestVerdict::ANSWER;
}

SntpReplyVerdict classifySntpReply(const uint8* datagram, size_t length, uint64 originate,
    uint64 destination, double localRoundTrip)
{
    using V = SntpReplyVerdict;
    if (length < sizeof(SntpBasicInfo))
        return V::TOO_SHORT;
    SntpBasicInfo reply;
    memcpy(&reply, datagram, sizeof(reply));
    const uint8 version = sntpVersion(reply.li_vn_mode);
    if (sntpMode(reply.li_vn_mode) != SNTP_MODE_SERVER)
        return V::NOT_SERVER;
    if (version < SNTP_VERSION_MIN || version > SNTP_VERSION_MAX)
        return V::BAD_VERSION;
    if (NtpStamp::fromWire(reply.org) != originate)
        return V::NOT_OURS;
    // A kiss carries no time worth checking; that it echoes our request is enough to obey it.
    if (reply.stratum == SNTP_STRATUM_KISS)
        return V::KISS;
    if (reply.stratum > SNTP_STRATUM_MAX)
        return V::BAD_STRATUM;
    if (sntpLeap(reply.li_vn_mode) == SNTP_LEAP_UNSYNCHRONISED)
        return V::UNSYNCHRONISED;
    const uint64 receive = NtpStamp::fromWire(reply.rec);
    const uint64 transmit = NtpStamp::fromWire(reply.xmt);
    if (receive == 0 || transmit == 0)
        return V::NO_TIME;
    const double held = NtpStamp::difference(transmit, receive);
    if (held < 0)
        return V::TRANSMIT_BEFORE_RECEIVE;
    // The round trip by our clock less the time the server says it held the request; whatever
    // the server's clock shows, its own two stamps cannot make this negative or longer than the
    // round trip we saw (which a step of our clock in between would also show up here).
    const double delay = NtpStamp::difference(destination, originate) - held;
    if (!(delay >= -SNTP_DELAY_TOLERANCE && delay <= localRoundTrip + SNTP_DELAY_TOLERANCE))
        return V::BAD_DELAY;
    const uint64 reference = NtpStamp::fromWire(reply.reftime);
    if (reference == 0 || NtpStamp::difference(reference, transmit) > 0)
        return V::BAD_REFERENCE;
    const double distance = sntpShortToSeconds(static_cast<uint32>(reply.rootdelay)) / 2
        + sntpShortToSeconds(static_cast<uint32>(reply.rootdispersion));
    if (distance >= SNTP_MAX_ROOT_DISTANCE)
        return V::TOO_FAR;
    return V::ACCEPTED;
}

const char* sntpVerdictText(SntpReplyVerdict verdict)
{
    switch (verdict) {
    case SntpReplyVerdict::ACCEPTED:
        return "accepted";
    case SntpReplyVerdict::KISS:
        return "kiss-o'-death";
    case SntpReplyVerdict::TOO_SHORT:
        return "shorter than 48 bytes";
    case SntpReplyVerdict::NOT_SERVER:
        return "not a server reply";
    case SntpReplyVerdict::BAD_VERSION:
        return "unknown version";
    case SntpReplyVerdict::NOT_OURS:
        return "not an answer to our request";
    case SntpReplyVerdict::BAD_STRATUM:
        return "stratum 16 or above";
    case SntpReplyVerdict::UNSYNCHRONISED:
        return "server unsynchronised";
    case SntpReplyVerdict::NO_TIME:
        return "receive or transmit time 0";
    case SntpReplyVerdict::TRANSMIT_BEFORE_RECEIVE:
        return "transmit time before receive time";
    case SntpReplyVerdict::BAD_DELAY:
        return "delay negative or longer than the round trip";
    case SntpReplyVerdict::BAD_REFERENCE:
        return "reference time 0 or after the transmit time";
    case SntpReplyVerdict::TOO_FAR:
        return "root distance 1 s or more";
    }
    return "unknown verdict";
}

} // namespace Kovan
