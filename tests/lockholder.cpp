// Holds the record lock a run of pairstat takes on its results file, for the
// end-to-end runs that show the lock is honoured.
//
//   lockholder FILE
//
// Takes an exclusive lock on the whole of FILE (waiting for it), prints its
// process id and a line end once it holds it, and holds it until its standard
// input ends; then it exits, which lets the lock go. Status 0, or 1 with a
// line on standard error when the lock can't be taken.
#include <cerrno>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <unistd.h>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: lockholder FILE\n");
        return 1;
    }
    int fd = ::open(argv[1], O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) {
        std::fprintf(stderr, "lockholder: cannot open %s: %s\n", argv[1], std::strerror(errno));
        return 1;
    }
    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    if (::fcntl(fd, F_SETLKW, &lock) != 0) {
        std::fprintf(stderr, "lockholder: cannot lock %s: %s\n", argv[1], std::strerror(errno));
        return 1;
    }
    std::printf("%ld\n", static_cast<long>(::getpid()));
    std::fflush(stdout);
    char buffer[64];
    for (;;) {
        ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (n == 0 || (n < 0 && errno != EINTR)) return 0;
    }
}
