// Any datagram through both classifiers, checked against a second reading of what the server may
// answer and what the strict client may accept; any stamp through the wire and calendar
// conversions and back. The input's first 24 bytes choose the client's side of the exchange
// (its transmit time, the arrival time and the measured round trip); the rest is the datagram.
#include "sntp/NtpStamp.h"
#include "sntp/SntpPacket.h"

#include <arpa/inet.h>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

uint64_t take64(const uint8_t* p)
{
    uint64_t v;
    memcpy(&v, p, sizeof(v));
    return v;
}

void check(bool condition)
{
    if (!condition)
        abort();
}

double seconds(int64_t ticks) { return static_cast<double>(ticks) / 4294967296.0; }

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 24 || size > 4096)
        return 0;
    const uint64_t originate = take64(data), destination = take64(data + 8);
    // A round trip from 0 to about 4 s, to the nanosecond.
    const double roundTrip = static_cast<double>(take64(data + 16) % 4000000000u) * 1e-9;
    const uint8_t* datagram = data + 24;
    const size_t length = size - 24;

    // The server answers only whole client requests of versions 1-4.
    const Kovan::SntpRequestVerdict request = Kovan::classifySntpRequest(datagram, length);
    const bool answerable = length >= 48 && (datagram[0] & 7) == 3 && ((datagram[0] >> 3) & 7) >= 1
        && ((datagram[0] >> 3) & 7) <= 4;
    check((request == Kovan::SntpRequestVerdict::ANSWER) == answerable);

    // An accepted reply is a server's answer to this request that contradicts nothing.
    const Kovan::SntpReplyVerdict reply
        = Kovan::classifySntpReply(datagram, length, originate, destination, roundTrip);
    if (reply == Kovan::SntpReplyVerdict::ACCEPTED || reply == Kovan::SntpReplyVerdict::KISS) {
        check(length >= 48 && (datagram[0] & 7) == 4);
        Kovan::SntpTimePacket org;
        memcpy(&org, datagram + 24, 8);
        check(Kovan::NtpStamp::fromWire(org) == originate);
        check((datagram[1] == 0) == (reply == Kovan::SntpReplyVerdict::KISS));
    }
    if (reply == Kovan::SntpReplyVerdict::ACCEPTED) {
        Kovan::SntpBasicInfo r;
        memcpy(&r, datagram, sizeof(r));
        const uint64_t t1 = originate, t2 = Kovan::NtpStamp::fromWire(r.rec),
                       t3 = Kovan::NtpStamp::fromWire(r.xmt),
                       ref = Kovan::NtpStamp::fromWire(r.reftime);
        check(r.stratum >= 1 && r.stratum <= 15 && (r.li_vn_mode >> 6) != 3);
        check(t2 != 0 && t3 != 0 && ref != 0);
        check(static_cast<int64_t>(t3 - t2) >= 0 && static_cast<int64_t>(ref - t3) <= 0);
        const double delay = seconds(static_cast<int64_t>(destination - t1))
            - seconds(static_cast<int64_t>(t3 - t2));
        check(delay >= -Kovan::SNTP_DELAY_TOLERANCE
            && delay <= roundTrip + Kovan::SNTP_DELAY_TOLERANCE);
        const double distance = ntohl(static_cast<uint32_t>(r.rootdelay)) / 131072.0
            + ntohl(static_cast<uint32_t>(r.rootdispersion)) / 65536.0;
        check(distance < 1.0);
    }
    check(Kovan::sntpVerdictText(reply) != nullptr);

    // Stamps: the wire form is lossless; a calendar instant to the nanosecond comes back whole
    // from any instant within 68 years; the short format never claims less than it was given.
    check(Kovan::NtpStamp::fromWire(Kovan::NtpStamp::toWire(originate)) == originate);
    timespec ts;
    ts.tv_sec
        = static_cast<time_t>(static_cast<int64_t>(destination) >> 24); // about +-17 000 years
    ts.tv_nsec = static_cast<long>(take64(data + 16) % 1000000000u);
    timespec near = ts;
    near.tv_sec += static_cast<time_t>(static_cast<int32_t>(originate) / 2);
    const timespec back = Kovan::NtpStamp::toTimespec(Kovan::NtpStamp::fromTimespec(ts), near);
    check(back.tv_sec == ts.tv_sec && back.tv_nsec == ts.tv_nsec);
    const double wanted = roundTrip * 1000.0; // 0 to about 4000 s
    check(Kovan::sntpShortToSeconds(Kovan::sntpSecondsToShort(wanted)) >= wanted);
    check(Kovan::sntpShortToSeconds(Kovan::sntpSecondsToShort(wanted)) < wanted + 1.0 / 65536);
    return 0;
}
