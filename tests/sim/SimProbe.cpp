// Reaches the simulated bus the way programs do and prints what came back: "entries" goes through
// each C library entry that opens or reads the bus; else each word is a transfer of one session.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <linux/i2c-dev.h>
#include <string>
#include <sys/ioctl.h>
#include <unistd.h>

extern "C" {
int __open_2(const char* path, int flags);
int __open64_2(const char* path, int flags);
int __openat_2(int dirfd, const char* path, int flags);
int __openat64_2(int dirfd, const char* path, int flags);
ssize_t __read_chk(int fd, void* buffer, size_t length, size_t bufferSize);
}

namespace {

const char* const BUS = "/dev/i2c-0";

// "what: 0a 1b ..." for the bytes transferred, "what: ENXIO" for a failure.
void print(const char* what, ssize_t result, const unsigned char* bytes)
{
    printf("%s:%s%s", what, result < 0 ? " " : "", result < 0 ? strerrorname_np(errno) : "");
    for (ssize_t i = 0; i < result; ++i)
        printf(" %02x", bytes[i]);
    printf("\n");
}

// One status read from the S35391A through the given descriptor (and read entry), then closed.
void statusRead(const char* name, int fd, bool checked = false)
{
    unsigned char byte = 0;
    ioctl(fd, I2C_SLAVE, 0x58);
    print(name, checked ? __read_chk(fd, &byte, 1, 1) : read(fd, &byte, 1), &byte);
    close(fd);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc > 1 && 0 == strcmp(argv[1], "entries")) {
        statusRead("open", open(BUS, O_RDWR));
        statusRead("open64", open64(BUS, O_RDWR));
        statusRead("openat", openat(AT_FDCWD, BUS, O_RDWR));
        statusRead("openat64", openat64(AT_FDCWD, BUS, O_RDWR));
        statusRead("__open_2", __open_2(BUS, O_RDWR));
        statusRead("__open64_2", __open64_2(BUS, O_RDWR));
        statusRead("__openat_2", __openat_2(AT_FDCWD, BUS, O_RDWR));
        statusRead("__openat64_2", __openat64_2(AT_FDCWD, BUS, O_RDWR | O_CLOEXEC), true);
        printf(
            "cloexec: %d\n", (fcntl(open(BUS, O_RDWR | O_CLOEXEC), F_GETFD) & FD_CLOEXEC) ? 1 : 0);
        return 0;
    }
    const int fd = open(BUS, O_RDWR);
    for (int i = 1; i < argc; ++i) { // sXX: slave address XX, wXXYY..: write XX YY .., rN: read N
        const char* token = argv[i];
        unsigned char bytes[64] = {};
        size_t n = 0;
        if ('s' == token[0] && -1 == ioctl(fd, I2C_SLAVE, strtoul(token + 1, nullptr, 16)))
            printf("%s: %s\n", token, strerrorname_np(errno));
        if ('w' == token[0]) {
            for (const char* p = token + 1; n < sizeof bytes && p[0] && p[1]; p += 2)
                bytes[n++] = static_cast<unsigned char>(std::stoul(std::string(p, 2), nullptr, 16));
            if (write(fd, bytes, n) < 0)
                print(token, -1, bytes);
        }
        if ('r' == token[0]) {
            n = strtoul(token + 1, nullptr, 10);
            n = n < sizeof bytes ? n : sizeof bytes;
            print(token, read(fd, bytes, n), bytes);
        }
    }
    close(fd);
    return 0;
}
