// Runs a command while holding the record lock a run of pairstat takes on its
// results file, for the end-to-end runs that show the lock is honoured.
//
//   lockholder FILE COMMAND...
//
// Takes an exclusive lock on the whole of FILE (waiting for it), prints its
// process id and a line end, then becomes COMMAND, which holds the lock until
// it ends. Status 1 with a line on standard error when the lock can't be taken.
#include <cstdio>

#include <fcntl.h>
#include <unistd.h>

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: lockholder FILE COMMAND...\n");
        return 2;
    }
    // Not closed on exec: the lock lasts as long as the descriptor is open.
    int fd = ::open(argv[1], O_RDWR | O_CREAT, 0666);
    struct flock lock {};
    lock.l_type = F_WRLCK;
    if (fd < 0 || ::fcntl(fd, F_SETLKW, &lock) != 0) {
        std::perror(argv[1]);
        return 1;
    }
    std::printf("%ld\n", static_cast<long>(::getpid()));
    std::fflush(stdout);
    ::execvp(argv[2], argv + 2);
    std::perror(argv[2]);
    return 1;
}
