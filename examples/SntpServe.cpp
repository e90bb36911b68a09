// sntp-serve: answers SNTP requests on UDP port 123 with this machine's clock until it is
// interrupted (Ctrl-C or SIGTERM). The server's own lines go to standard error.
//
//   sntp-serve
//
// Exit status: 0 after an interruption, 1 when the port cannot be served (another server holds
// it, or the process may not bind below 1024).
#include "sntp/SntpServer.h"

#include <csignal>
#include <cstdio>
#include <pthread.h>

int main(int argc, char** argv)
{
    if (argc != 1) {
        fprintf(stderr, "Usage: %s\n", argv[0]);
        return 2;
    }

    // Blocked before the server thread starts, so that only sigwait below sees them.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    Kovan::SntpServer server;
    server.setEnable(true);
    if (!server.isEnable()) {
        fprintf(stderr, "%s: cannot serve UDP port %d\n", argv[0], Kovan::SntpServer::PORT);
        return 1;
    }
    if (!server.run()) {
        fprintf(stderr, "%s: cannot start the server thread\n", argv[0]);
        return 1;
    }
    printf("serving SNTP on UDP port %d; interrupt to stop\n", Kovan::SntpServer::PORT);
    fflush(stdout);

    int signalNumber = 0;
    sigwait(&stopSignals, &signalNumber);

    server.quit();
    server.join();
    server.setEnable(false);
    return 0;
}
