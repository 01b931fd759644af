// An emulated usbmuxd for tests: the real libusbmuxd and libimobiledevice reach the simulated
// phones of SPACEWELL_SIM_ROOT through it (USBMUXD_SOCKET_ADDRESS=UNIX:<socket>).
//   spacewell-usbmuxd-emulator <socket> <state folder>
// Prints "ready" once the socket accepts connections. With SPACEWELL_EMULATOR_TIED set (as the tests
// start it) it ends when the process that started it does; started by hand it runs until stopped,
// from any shell, and says why whenever it exits.
#include "EmulatedBackupService.h"
#include "EmulatorState.h"
#include "SimServices.h"
#include "UsbmuxdEmulator.h"

#include <sys/prctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char** argv)
{
    const char* root = std::getenv("SPACEWELL_SIM_ROOT");
    if (argc != 3 || !root) {
        std::fprintf(stderr, "usage: SPACEWELL_SIM_ROOT=<phones> %s <socket> <state folder>\n", argv[0]);
        return 2;
    }
    // A test run that is killed takes its emulator with it.
    if (std::getenv("SPACEWELL_EMULATOR_TIED")) {
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (getppid() == 1) {
            std::fprintf(stderr,
                         "spacewell-usbmuxd-emulator: the process that started it is gone; exiting\n");
            return 0;
        }
    }
    for (int sig : {SIGTERM, SIGINT, SIGHUP})
        signal(sig, [](int received) {
            char text[] = "spacewell-usbmuxd-emulator: stopped by signal   \n";
            text[sizeof text - 4] = char('0' + received / 10);
            text[sizeof text - 3] = char('0' + received % 10);
            [[maybe_unused]] const ssize_t n = write(STDERR_FILENO, text, sizeof text - 1);
            _exit(0);
        });
    // TLS writes go through write(2): a host that hangs up must not end the daemon.
    signal(SIGPIPE, SIG_IGN);
    mkdir(argv[2], 0700);
    EmulatorState state(argv[2]);
    if (state.devicePublicKey().empty() || !state.tls(false) || !state.tls(true)) {
        std::fprintf(stderr, "could not make the phones' key pair\n");
        return 1;
    }
    registerBuiltinSimServices();
    registerEmulatedBackupServices();
    UsbmuxdEmulator daemon(argv[1], root, state);
    if (!daemon.bind()) {
        std::fprintf(stderr, "could not listen on %s: %s\n", argv[1], std::strerror(errno));
        return 1;
    }
    std::printf("ready\n");
    std::fflush(stdout);
    daemon.run();
}
