// The ISL1208: one bus address, 0x6F, and a register pointer. A write transfer's first byte sets
// the pointer and the bytes after it fill registers from there; a read transfer returns registers
// from the pointer on. The pointer advances with every byte.
//
//   0x00-0x06  second, minute, hour (0 to 23), day, month, year, weekday, packed BCD; writes are
//              ignored unless the status register's WRTC bit (0x10) is set
//   0x07       status: 0x01 RTC failed (power lost), 0x02 on battery, 0x04 alarm (these three
//              are cleared by writing 0 to them), 0x10 WRTC, 0x40 XTOSCB, 0x80 ARST
//   0x08-0x13  control, alarm and user registers, kept as written; the digital trimming in 0x0B
//              (bits 0-1: 0, 20, 40 or 60 ppm; bit 2 makes it negative) speeds the count up or
//              slows it down from the write on
//   0x14-0xFF  nothing: read as 0x00, writes ignored
#include "sim/BenchSim.h"
#include "sim/ChipCalendar.h"
#include "sim/I2cBus.h"

#include <cstring>

namespace BenchSim {

namespace {

constexpr unsigned ADDRESS = 0x6F;
constexpr unsigned CALENDAR_SIZE = 7;
constexpr unsigned STATUS = 0x07;
constexpr unsigned DIGITAL_TRIM = 0x0B;
constexpr unsigned REGISTER_COUNT = 0x14;

constexpr uint8_t RTC_FAILED = 0x01;
constexpr uint8_t FLAGS = 0x07;
constexpr uint8_t WRITE_ENABLE = 0x10;
constexpr uint8_t CONTROLS = 0xD0;

class Isl1208 : public I2cChip {
public:
    Isl1208()
        : I2cChip("isl1208", ADDRESS, ADDRESS)
    {
    }
    void read(unsigned address, uint8_t* buffer, size_t length) override;
    void write(unsigned address, const uint8_t* data, size_t length) override;
    void load(const ChipState& state) override;
    void save(std::string* lines) const override;

private:
    // 0x00-0x06 live in _calendar; the rest here, indexed by register.
    uint8_t _registers[REGISTER_COUNT] = {};
    uint8_t _pointer = 0;
    ChipCalendar _calendar;
};

void toRegisters(const ChipCalendar::Registers& r, uint8_t* out)
{
    const uint8_t bytes[CALENDAR_SIZE]
        = { r.second, r.minute, r.hour, r.day, r.month, r.year, r.weekday };
    memcpy(out, bytes, CALENDAR_SIZE);
}

double trimPpm(uint8_t dtr) { return (dtr & 0x03) * ((dtr & 0x04) ? -20.0 : 20.0); }

ChipCalendar::Registers fromRegisters(const uint8_t* in)
{
    ChipCalendar::Registers r;
    r.second = in[0];
    r.minute = in[1];
    r.hour = in[2];
    r.day = in[3];
    r.month = in[4];
    r.year = in[5];
    r.weekday = in[6];
    return r;
}

void Isl1208::read(unsigned /*address*/, uint8_t* buffer, size_t length)
{
    // The calendar is latched when the transfer starts, so a read never tears across a second.
    uint8_t snapshot[REGISTER_COUNT];
    memcpy(snapshot, _registers, sizeof snapshot);
    toRegisters(_calendar.at(hostNow()), snapshot);
    for (size_t i = 0; i < length; ++i, ++_pointer)
        buffer[i] = _pointer < REGISTER_COUNT ? snapshot[_pointer] : 0x00;
}

void Isl1208::write(unsigned /*address*/, const uint8_t* data, size_t length)
{
    if (0 == length)
        return;
    _pointer = data[0];
    const double now = hostNow();
    uint8_t calendar[CALENDAR_SIZE];
    toRegisters(_calendar.at(now), calendar);
    bool calendarWritten = false;
    for (size_t i = 1; i < length; ++i, ++_pointer) {
        const uint8_t value = data[i];
        if (_pointer < CALENDAR_SIZE) {
            if (_registers[STATUS] & WRITE_ENABLE) {
                calendar[_pointer] = value;
                calendarWritten = true;
            }
        } else if (STATUS == _pointer) {
            _registers[STATUS]
                = static_cast<uint8_t>((_registers[STATUS] & value & FLAGS) | (value & CONTROLS));
        } else if (_pointer < REGISTER_COUNT) {
            _registers[_pointer] = value;
            if (DIGITAL_TRIM == _pointer)
                _calendar.trim(trimPpm(value), now);
        }
    }
    if (calendarWritten) {
        _calendar.set(fromRegisters(calendar), now);
        _registers[STATUS] &= static_cast<uint8_t>(~RTC_FAILED);
    }
}

void Isl1208::load(const ChipState& state)
{
    // A chip that has never had power reports the failure, with calendar writes disabled.
    _registers[STATUS] = RTC_FAILED;
    loadEntry(state, "calendar", [this](const std::string& text) { return _calendar.load(text); });
    loadEntry(state, "registers", [this](const std::string& text) {
        return parseHex(text, _registers + STATUS, REGISTER_COUNT - STATUS);
    });
    byteSetting("ISL1208_STATUS", &_registers[STATUS]);
    _calendar.restoreTrim(trimPpm(_registers[DIGITAL_TRIM]));
    loadEntry(state, "trim", [this](const std::string& text) { return _calendar.loadTrim(text); });
}

void Isl1208::save(std::string* lines) const
{
    *lines += entry("calendar", _calendar.save());
    *lines += entry("registers", hexBytes(_registers + STATUS, REGISTER_COUNT - STATUS));
    *lines += entry("trim", _calendar.saveTrim());
}

} // namespace

I2cChip* makeIsl1208() { return new Isl1208; }

} // namespace BenchSim
