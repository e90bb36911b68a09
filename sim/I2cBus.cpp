#include "sim/I2cBus.h"

#include "sim/BenchSim.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <linux/i2c-dev.h>
#include <linux/i2c.h>
#include <memory>
#include <mutex>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace BenchSim {

namespace {

const char* const BUS_PATH = "/dev/i2c-0";
// i2c-dev caps one plain transfer at this many bytes, and one I2C_RDWR call at this many messages.
constexpr size_t MAX_TRANSFER = 8192;
constexpr uint32_t MAX_MESSAGES = 42;

class I2cBus : public Device {
public:
    I2cBus();
    OpenFile* open(int flags) override;

    ssize_t read(unsigned address, void* buffer, size_t length);
    ssize_t write(unsigned address, const void* data, size_t length);
    // Whether QUILLO_SIM_BUSY names the address ("0x6f,0x58"; read at every call).
    static bool heldByDriver(unsigned address);

private:
    I2cChip* chipAt(unsigned address) const;
    void loadState();
    void saveState();

    std::mutex _lock;
    std::vector<std::unique_ptr<I2cChip>> _chips;
    std::string _statePath;
    long _maxReads = -1;
    long _interruptAfter = -1;
    std::string _saved; // the state file's text as last written by this process
    long _reads = 0;
};

class I2cBusFile : public OpenFile {
public:
    explicit I2cBusFile(I2cBus& bus)
        : _bus(bus)
    {
        logLine("open %s", BUS_PATH);
    }
    ~I2cBusFile() override { logLine("close %s", BUS_PATH); }

    ssize_t read(void* buffer, size_t length) override
    {
        return _bus.read(_address, buffer, length);
    }
    ssize_t write(const void* data, size_t length) override
    {
        return _bus.write(_address, data, length);
    }
    int ioctl(unsigned long request, void* argument) override;

private:
    int combined(const i2c_rdwr_ioctl_data* transfer);
    int smbus(const i2c_smbus_ioctl_data* transfer);

    I2cBus& _bus;
    // The kernel starts every open at address 0, where nothing answers.
    unsigned _address = 0;
};

int I2cBusFile::ioctl(unsigned long request, void* argument)
{
    const unsigned long value = reinterpret_cast<unsigned long>(argument);
    switch (request) {
    case I2C_SLAVE:
    case I2C_SLAVE_FORCE:
        if (value > 0x7F) {
            logLine("slave 0x%lx EINVAL", value);
            errno = EINVAL;
            return -1;
        }
        if (I2C_SLAVE == request && I2cBus::heldByDriver(static_cast<unsigned>(value))) {
            logLine("slave 0x%02lx EBUSY", value);
            errno = EBUSY;
            return -1;
        }
        _address = static_cast<unsigned>(value);
        logLine(I2C_SLAVE == request ? "slave 0x%02x" : "force 0x%02x", _address);
        return 0;
    case I2C_TENBIT:
        if (value) {
            errno = EINVAL;
            return -1;
        }
        return 0;
    case I2C_FUNCS:
        *static_cast<unsigned long*>(argument) = I2C_FUNC_I2C | I2C_FUNC_SMBUS_QUICK
            | I2C_FUNC_SMBUS_BYTE | I2C_FUNC_SMBUS_BYTE_DATA | I2C_FUNC_SMBUS_WORD_DATA
            | I2C_FUNC_SMBUS_I2C_BLOCK;
        return 0;
    case I2C_RETRIES:
    case I2C_TIMEOUT:
        return 0;
    case I2C_RDWR:
        return combined(static_cast<const i2c_rdwr_ioctl_data*>(argument));
    case I2C_SMBUS:
        return smbus(static_cast<const i2c_smbus_ioctl_data*>(argument));
    default:
        errno = ENOTTY;
        return -1;
    }
}

// Each message to its own address, in order; the first that fails ends the call, as a NACK does.
int I2cBusFile::combined(const i2c_rdwr_ioctl_data* transfer)
{
    if (!transfer || !transfer->msgs || 0 == transfer->nmsgs || transfer->nmsgs > MAX_MESSAGES) {
        errno = EINVAL;
        return -1;
    }
    for (uint32_t i = 0; i < transfer->nmsgs; ++i) {
        const i2c_msg& m = transfer->msgs[i];
        if ((m.flags & I2C_M_TEN) || m.addr > 0x7F || m.len > MAX_TRANSFER || (m.len && !m.buf)) {
            errno = EINVAL;
            return -1;
        }
        const ssize_t done = (m.flags & I2C_M_RD) ? _bus.read(m.addr, m.buf, m.len)
                                                  : _bus.write(m.addr, m.buf, m.len);
        if (done < 0)
            return -1;
    }
    return static_cast<int>(transfer->nmsgs);
}

// SMBus transfers as the kernel emulates them on a plain I2C adapter: the command byte written,
// then (for reads) the data read back in a second message.
int I2cBusFile::smbus(const i2c_smbus_ioctl_data* transfer)
{
    if (!transfer || (I2C_SMBUS_QUICK != transfer->size && !transfer->data)) {
        errno = EINVAL;
        return -1;
    }
    const bool reading = I2C_SMBUS_READ == transfer->read_write;
    i2c_smbus_data* data = transfer->data;
    uint8_t command[2 + I2C_SMBUS_BLOCK_MAX] = { transfer->command };
    size_t length = 0; // data bytes after the command
    uint8_t* into = nullptr;
    switch (transfer->size) {
    case I2C_SMBUS_QUICK:
        return reading ? (_bus.read(_address, command, 0) < 0 ? -1 : 0)
                       : (_bus.write(_address, command, 0) < 0 ? -1 : 0);
    case I2C_SMBUS_BYTE:
        if (reading)
            return _bus.read(_address, &data->byte, 1) < 0 ? -1 : 0;
        return _bus.write(_address, command, 1) < 0 ? -1 : 0;
    case I2C_SMBUS_BYTE_DATA:
        length = 1;
        into = &data->byte;
        break;
    case I2C_SMBUS_WORD_DATA:
        length = 2;
        into = reinterpret_cast<uint8_t*>(&data->word);
        break;
    case I2C_SMBUS_I2C_BLOCK_DATA:
        length = data->block[0];
        into = data->block + 1;
        if (0 == length || length > I2C_SMBUS_BLOCK_MAX) {
            errno = EINVAL;
            return -1;
        }
        break;
    default:
        errno = EOPNOTSUPP;
        return -1;
    }
    if (reading) {
        if (_bus.write(_address, command, 1) < 0 || _bus.read(_address, into, length) < 0)
            return -1;
        // SMBus words travel low byte first.
        if (I2C_SMBUS_WORD_DATA == transfer->size)
            data->word = static_cast<uint16_t>(into[0] | (into[1] << 8));
        return 0;
    }
    if (I2C_SMBUS_WORD_DATA == transfer->size) {
        command[1] = static_cast<uint8_t>(data->word & 0xFF);
        command[2] = static_cast<uint8_t>(data->word >> 8);
    } else {
        memcpy(command + 1, into, length);
    }
    return _bus.write(_address, command, 1 + length) < 0 ? -1 : 0;
}

bool I2cBus::heldByDriver(unsigned address)
{
    const char* busy = setting("BUSY");
    if (!busy)
        return false;
    std::string list = busy;
    for (char& c : list)
        c = (',' == c) ? ' ' : c;
    std::istringstream words(list);
    for (std::string word; words >> word;) {
        if (strtoul(word.c_str(), nullptr, 0) == address)
            return true;
    }
    return false;
}

I2cBus::I2cBus()
{
    const char* chips = setting("CHIPS");
    std::string names = chips ? chips : "s35391a,isl1208";
    for (char& c : names)
        c = (',' == c) ? ' ' : static_cast<char>(tolower(static_cast<unsigned char>(c)));
    std::istringstream words(names);
    std::string name;
    while (words >> name) {
        if ("s35391a" == name)
            _chips.emplace_back(makeS35391A());
        else if ("isl1208" == name)
            _chips.emplace_back(makeIsl1208());
        else if ("none" != name)
            warn("QUILLO_SIM_CHIPS: no chip called \"%s\"", name.c_str());
    }
    const char* state = setting("STATE");
    _statePath = state ? state : "";
    // Renaming over anything but a regular file would replace it (a device node, a link).
    struct stat info;
    if (!_statePath.empty() && 0 == lstat(_statePath.c_str(), &info) && !S_ISREG(info.st_mode)) {
        warn("QUILLO_SIM_STATE=%s is not a regular file; the chips keep no state",
            _statePath.c_str());
        _statePath.clear();
    }
    _maxReads = static_cast<long>(numberSetting("MAX_READS", -1));
    _interruptAfter = static_cast<long>(numberSetting("INTERRUPT_AFTER_READS", -1));
    loadState();
}

OpenFile* I2cBus::open(int /*flags*/)
{
    const char* presence = setting("BUS");
    if (presence && 0 == strcmp(presence, "absent")) {
        errno = ENOENT;
        return nullptr;
    }
    if (presence && 0 == strcmp(presence, "denied")) {
        errno = EACCES;
        return nullptr;
    }
    return new I2cBusFile(*this);
}

I2cChip* I2cBus::chipAt(unsigned address) const
{
    for (const auto& chip : _chips) {
        if (chip->answers(address))
            return chip.get();
    }
    return nullptr;
}

ssize_t I2cBus::read(unsigned address, void* buffer, size_t length)
{
    if (length > MAX_TRANSFER)
        length = MAX_TRANSFER;
    std::unique_lock<std::mutex> guard(_lock);
    if (_maxReads >= 0 && _reads >= _maxReads) {
        // The bench's way of ending a program that reads forever: exit() still flushes its output.
        logLine("exit after %ld reads", _reads);
        guard.unlock();
        exit(0); // NOLINT(concurrency-mt-unsafe): what flushes a single-threaded reader's output
    }
    ++_reads;
    I2cChip* chip = chipAt(address);
    uint8_t* bytes = static_cast<uint8_t*>(buffer);
    if (chip) {
        chip->read(address, bytes, length);
        logLine("read 0x%02x %zu: %s", address, length, hexBytes(bytes, length).c_str());
    } else {
        logLine("read 0x%02x %zu: ENXIO", address, length);
    }
    if (_reads == _interruptAfter) {
        // The bench's Ctrl-C, at a chosen point of the program: the handler runs before this
        // read returns.
        logLine("SIGINT after %ld reads", _reads);
        guard.unlock();
        (void)raise(SIGINT);
    }
    if (!chip) {
        errno = ENXIO;
        return -1;
    }
    return static_cast<ssize_t>(length);
}

ssize_t I2cBus::write(unsigned address, const void* data, size_t length)
{
    if (length > MAX_TRANSFER)
        length = MAX_TRANSFER;
    std::lock_guard<std::mutex> guard(_lock);
    const uint8_t* bytes = static_cast<const uint8_t*>(data);
    I2cChip* chip = chipAt(address);
    if (!chip) {
        logLine("write 0x%02x %zu: %s ENXIO", address, length, hexBytes(bytes, length).c_str());
        errno = ENXIO;
        return -1;
    }
    logLine("write 0x%02x %zu: %s", address, length, hexBytes(bytes, length).c_str());
    chip->write(address, bytes, length);
    saveState();
    return static_cast<ssize_t>(length);
}

void I2cBus::loadState()
{
    ChipState state;
    if (!_statePath.empty()) {
        std::ifstream in(_statePath);
        std::string line;
        int number = 0;
        while (std::getline(in, line)) {
            ++number;
            if (line.empty() || '#' == line[0])
                continue;
            const size_t space = line.find(' ');
            if (std::string::npos == space) {
                warn("%s:%d: no value; line ignored", _statePath.c_str(), number);
                continue;
            }
            state[line.substr(0, space)] = line.substr(space + 1);
        }
    }
    for (const auto& chip : _chips)
        chip->load(state);
}

void I2cBus::saveState()
{
    if (_statePath.empty())
        return;
    std::string text = "# quillo bench simulator: what the chips' backup battery keeps\n";
    for (const auto& chip : _chips)
        chip->save(&text);
    // A write that changed nothing the battery keeps (an ISL1208 register pointer) costs no file
    // write: programs that poll the chip stay fast.
    if (text == _saved)
        return;
    // Written aside and renamed over the old file, so a killed run never leaves half a state. The
    // file aside is new, beside the state (the rename stays within its file system), and never
    // followed through a link: whatever already has its name is left alone and another is tried.
    std::string temporary;
    int fd = -1;
    for (int attempt = 0; - 1 == fd && attempt < 8; ++attempt) {
        temporary = _statePath + ".tmp" + std::to_string(getpid())
            + (attempt ? "." + std::to_string(attempt) : "");
        fd = real::open(
            temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
        if (-1 == fd && EEXIST != errno)
            break;
    }
    bool written = -1 != fd
        && static_cast<ssize_t>(text.size()) == real::write(fd, text.data(), text.size());
    if (-1 != fd)
        written = (0 == real::close(fd)) && written;
    if (!written || 0 != rename(temporary.c_str(), _statePath.c_str())) {
        char error[256];
        warn("cannot save the state file %s: %s", _statePath.c_str(),
            strerror_r(errno, error, sizeof error));
        if (-1 != fd)
            unlink(temporary.c_str());
        return;
    }
    _saved = text;
}

Device* newBus() { return new I2cBus; }
DeviceRegistration registration(BUS_PATH, newBus);

} // namespace

bool byteSetting(const char* name, uint8_t* value)
{
    const char* text = setting(name);
    if (!text || !*text)
        return false;
    char* end = nullptr;
    const unsigned long number = strtoul(text, &end, 0);
    if (*end || number > 0xFF) {
        warn("QUILLO_SIM_%s=\"%s\" is not a byte; ignored", name, text);
        return false;
    }
    *value = static_cast<uint8_t>(number);
    return true;
}

bool parseHex(const std::string& text, uint8_t* bytes, size_t length)
{
    std::istringstream in(text);
    std::vector<uint8_t> parsed(length);
    for (uint8_t& byte : parsed) {
        std::string word;
        if (!(in >> word) || word.size() != 2 || !isxdigit(static_cast<unsigned char>(word[0]))
            || !isxdigit(static_cast<unsigned char>(word[1])))
            return false;
        byte = static_cast<uint8_t>(strtoul(word.c_str(), nullptr, 16));
    }
    std::string rest;
    if (in >> rest)
        return false;
    std::copy(parsed.begin(), parsed.end(), bytes);
    return true;
}

} // namespace BenchSim
