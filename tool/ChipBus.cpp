#include "tool/ChipBus.h"

#include "foundation/Bcd.h"
#include "tool/RtcFailure.h"

#include <cerrno>
#include <fcntl.h>
#include <linux/i2c-dev.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace Kovan {

ChipBus::ChipBus(const std::string& device, bool force)
    : _device(device)
    , _force(force)
{
    _fd = open(device.c_str(), O_RDWR | O_CLOEXEC);
    if (-1 == _fd) {
        const int error = errno;
        if (EACCES == error || EPERM == error)
            fail("cannot open %s: %s; run as root or as a member of its group", device.c_str(),
                errorText(error).c_str());
        fail("cannot open %s: %s; load i2c-dev (modprobe i2c-dev) or name the bus with --bus",
            device.c_str(), errorText(error).c_str());
    }
}

ChipBus::~ChipBus() { close(_fd); }

int ChipBus::probe(const ChipModel& chip)
{
    if (!trySelect(chip.probeAddress()))
        return errno;
    unsigned char byte = 0;
    if (1 == ::read(_fd, &byte, 1))
        return 0;
    return errno ? errno : EIO;
}

void ChipBus::choose(const std::string& name)
{
    if (const ChipModel* named = chipByName(name.c_str())) {
        _chip = named;
        const int error = probe(*named);
        if (EBUSY == error)
            busy(*named);
        if (error)
            notAnswering();
        return;
    }
    const std::vector<const ChipModel*> found = answering();
    if (found.size() > 1)
        fail("both an %s (%s) and an %s (%s) answer on %s; choose one with --chip", found[0]->name,
            found[0]->addresses, found[1]->name, found[1]->addresses, _device.c_str());
    _chip = found.front();
}

std::vector<const ChipModel*> ChipBus::answering(std::vector<const ChipModel*>* held)
{
    std::vector<const ChipModel*> found, busyChips;
    for (const ChipModel* chip : CHIPS) {
        const int error = probe(*chip);
        if (0 == error)
            found.push_back(chip);
        else if (EBUSY == error)
            busyChips.push_back(chip);
    }
    if (found.empty() && !busyChips.empty())
        busy(*busyChips.front());
    if (found.empty())
        fail("no supported chip answers on %s; check the wiring, the bus (--bus) and the chip's "
             "supply",
            _device.c_str());
    if (nullptr != held)
        *held = busyChips;
    return found;
}

ChipBus::Transfer ChipBus::transferFor(int number, const unsigned char* data, size_t length) const
{
    Transfer t = { _chip->busAddress(number), {} };
    if (_chip->registerPointer)
        t.bytes.push_back(static_cast<unsigned char>(number));
    const size_t at = t.bytes.size();
    t.bytes.insert(t.bytes.end(), data, data + length);
    toChipOrder(*_chip, t.bytes.data() + at, length);
    return t;
}

void ChipBus::read(int number, unsigned char* buffer, size_t length)
{
    const int address = _chip->busAddress(number);
    if (_chip->registerPointer) {
        const unsigned char pointer = static_cast<unsigned char>(number);
        writeTo(address, &pointer, 1);
    }
    readFrom(address, buffer, length);
    toChipOrder(*_chip, buffer, length);
}

unsigned char ChipBus::readByte(int number)
{
    unsigned char byte = 0;
    read(number, &byte, 1);
    return byte;
}

void ChipBus::write(int number, const unsigned char* data, size_t length)
{
    const Transfer t = transferFor(number, data, length);
    writeTo(t.address, t.bytes.data(), t.bytes.size());
}

void ChipBus::writeByte(const RegisterWrite& w) { write(w.reg, &w.value, 1); }

bool ChipBus::flagSet(const ChipFlag& flag) { return 0 != (readByte(flag.reg) & flag.bit); }

bool ChipBus::hour24()
{
    if (_hour24 < 0)
        _hour24 = flagSet(_chip->flags[_chip->hour24Flag]) ? 1 : 0;
    return 1 == _hour24;
}

void ChipBus::readCalendar(unsigned char* fields)
{
    unsigned char block[CALENDAR_SIZE] = {};
    read(_chip->calendarRegister, block, CALENDAR_SIZE);
    calendarFromBlock(*_chip, block, fields);
    const unsigned char hour = fields[HOUR];
    fields[HOUR] &= HOUR_MASK;
    // 12-hour mode: 0-11 and the afternoon flag.
    if (_chip->hourPm && (hour & _chip->hourPm) && isBcd(fields[HOUR]) && fromBcd(fields[HOUR]) < 12
        && !hour24())
        fields[HOUR] = toBcd(fromBcd(fields[HOUR]) + 12);
}

std::vector<unsigned char> ChipBus::calendarBlock(const unsigned char* fields)
{
    unsigned char f[CALENDAR_SIZE];
    for (int i = 0; i < CALENDAR_SIZE; ++i)
        f[i] = fields[i];
    if (_chip->hourPm) {
        const int hour = fromBcd(f[HOUR]);
        f[HOUR] = static_cast<unsigned char>(
            toBcd(hour24() ? hour : hour % 12) | (hour > 11 ? _chip->hourPm : 0));
    }
    std::vector<unsigned char> block(CALENDAR_SIZE);
    calendarToBlock(*_chip, f, block.data());
    return block;
}

bool ChipBus::trySelect(int address)
{
    if (address == _selected)
        return true;
    if (-1 == ioctl(_fd, _force ? I2C_SLAVE_FORCE : I2C_SLAVE, address))
        return false;
    _selected = address;
    return true;
}

void ChipBus::select(int address)
{
    if (trySelect(address))
        return;
    const int error = errno;
    if (EBUSY == error)
        busy(*_chip);
    fail("cannot address 0x%02x on %s: %s; check the bus (--bus)", address, _device.c_str(),
        errorText(error).c_str());
}

void ChipBus::readFrom(int address, unsigned char* buffer, size_t length)
{
    select(address);
    errno = 0;
    if (static_cast<ssize_t>(length) != ::read(_fd, buffer, length))
        transferFailed("read from", address, errno);
}

void ChipBus::writeTo(int address, const unsigned char* data, size_t length)
{
    select(address);
    errno = 0;
    if (static_cast<ssize_t>(length) != ::write(_fd, data, length))
        transferFailed("write to", address, errno);
}

void ChipBus::busy(const ChipModel& chip) const
{
    fail("a kernel driver holds the %s at %s on %s; read it with hwclock, unbind the driver, or "
         "add --force",
        chip.name, chip.addresses, _device.c_str());
}

void ChipBus::notAnswering() const
{
    fail("no %s answers at %s on %s; check the wiring, the bus (--bus) and --chip", _chip->name,
        _chip->addresses, _device.c_str());
}

void ChipBus::transferFailed(const char* what, int address, int error) const
{
    if (ENXIO == error || EREMOTEIO == error || EIO == error || 0 == error)
        notAnswering();
    fail("%s 0x%02x on %s failed: %s; check the wiring and the bus (--bus)", what, address,
        _device.c_str(), errorText(error).c_str());
}

} // namespace Kovan
