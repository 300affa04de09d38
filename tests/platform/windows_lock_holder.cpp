// Holds a lock file for another process: prints "locked" once it has the
// lock (or "busy" and exits 1 when someone else has it), then keeps the lock
// until its standard input ends.
#include <cstdio>

#include "platform/platform.h"

int main(int argc, char** argv) {
    if (argc != 2) return 2;
    Corvex::Tracking::Platform::FileLock lock;
    if (!lock.tryLock(argv[1])) {
        std::puts("busy");
        return 1;
    }
    std::puts("locked");
    std::fflush(stdout);
    while (std::getchar() != EOF) {
    }
    return 0;
}
