// faults: runs a command whose chosen system calls fail, for the tests that
// show what the program does when the system refuses it something.
//
//   faults RULE... -- COMMAND [ARGUMENT...]
//
// A RULE is CALL[:FILE][@N]=RESULT:
//   CALL    a system call by its name (the table below): read, write, close,
//           statx, openat, fdatasync, ...
//   FILE    which calls: those whose file's name, its last part, matches the
//           pattern FILE (* and ? as in the shell). A call on a descriptor
//           matches by the name of the file the descriptor is open on (a file
//           with no name, made by O_TMPFILE, is named #INODE); a call on a
//           name matches by that name. fd0, fd1, fd2 stand for the standard
//           descriptors whatever they are open on. A call on neither (wait4,
//           pipe2) matches by the name of the program making it. Without
//           FILE, every call.
//   N       only the Nth call that matches, counted from 1. Without @N, every
//           call that matches.
//   RESULT  an errno name (EIO, ENOSPC, ...): the call is not made and fails
//           with it; a whole number: the call is not made and returns it (a
//           write that takes nothing: write:fd1=0); tell: the call is made,
//           and "faults: CALL FILE" goes to standard error first; sleepMS:
//           the call is made MS milliseconds late (a race made to happen).
// The first rule that decides a call decides it; calls no rule decides are
// made as usual.
//
// COMMAND and every process it starts run under a seccomp filter that hands
// each listed call to this process to answer, so it works on a program linked
// statically, where nothing can be preloaded. Signals sent to faults (TERM,
// INT, HUP, ALRM, USR1, USR2) are passed on to COMMAND. The status is
// COMMAND's, or 128 + the signal that ended it; 125 with a line on standard
// error when the rules are wrong or the filter can't be set up (a kernel
// without seccomp's user notification: Linux 5.5 or later is needed).
#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <ctime>
#include <vector>

#include <fcntl.h>
#include <fnmatch.h>
#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// The calls a rule may name (those the program makes that a test fails;
// another is one more entry): where each takes its descriptor and its name
// (-1: none). A call given both whose name is empty (fstat made as
// newfstatat(fd, "", AT_EMPTY_PATH)) matches by the descriptor.
struct callinfo {
    const char* name;
    long number;
    int fdarg;
    int namearg;
};
const callinfo calls[] = {
    {"read", SYS_read, 0, -1},         {"pread64", SYS_pread64, 0, -1},     {"write", SYS_write, 0, -1},
    {"pwrite64", SYS_pwrite64, 0, -1}, {"close", SYS_close, 0, -1},         {"openat", SYS_openat, 0, 1},
    {"newfstatat", SYS_newfstatat, 0, 1}, {"statx", SYS_statx, 0, 1},       {"fstatfs", SYS_fstatfs, 0, -1},
    {"fcntl", SYS_fcntl, 0, -1},       {"fdatasync", SYS_fdatasync, 0, -1}, {"ftruncate", SYS_ftruncate, 0, -1},
    {"fadvise64", SYS_fadvise64, 0, -1}, {"rename", SYS_rename, -1, 1},     {"linkat", SYS_linkat, 2, 3},
    {"access", SYS_access, -1, 0},     {"getcwd", SYS_getcwd, -1, -1},      {"poll", SYS_poll, -1, -1},
    {"rt_sigtimedwait", SYS_rt_sigtimedwait, -1, -1}, {"pipe2", SYS_pipe2, -1, -1}, {"mkdir", SYS_mkdir, -1, 0},
    {"wait4", SYS_wait4, -1, -1},
};

enum class action { fail, give, tell, late };

struct rule {
    const callinfo* call;
    std::string file;  // empty: any
    long nth = 0;      // 0: every call that matches
    action what = action::fail;
    long value = 0;  // the errno to fail with, or the value to give
    long seen = 0;   // calls matched so far
};


[[noreturn]] void refuse(const std::string& what) {
    std::fprintf(stderr, "faults: %s\n", what.c_str());
    std::exit(125);
}

bool wholenumber(const std::string& text, long& value) {
    if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != std::string::npos) return false;
    value = std::stol(text);
    return true;
}

rule parserule(const std::string& text) {
    rule r;
    const std::size_t equals = text.rfind('=');
    if (equals == std::string::npos) refuse("a rule needs '=RESULT': '" + text + "'");
    std::string left = text.substr(0, equals);
    const std::string result = text.substr(equals + 1);
    if (const std::size_t at = left.rfind('@'); at != std::string::npos) {
        const std::string count = left.substr(at + 1);
        left.resize(at);
        if (!wholenumber(count, r.nth) || r.nth == 0) refuse("@N takes a whole number from 1: '" + text + "'");
    }
    const std::size_t colon = left.find(':');
    const std::string name = left.substr(0, colon);
    if (colon != std::string::npos) r.file = left.substr(colon + 1);
    for (const callinfo& c : calls)
        if (name == c.name) r.call = &c;
    if (r.call == nullptr) refuse("no call named '" + name + "' in the table");
    if (result == "tell") {
        r.what = action::tell;
    } else if (result.starts_with("sleep") && wholenumber(result.substr(5), r.value)) {
        r.what = action::late;
    } else if (wholenumber(result, r.value)) {
        r.what = action::give;
    } else {
        for (int e = 1; e < 256 && r.value == 0; ++e)  // every errno the C library names lies below 256
            if (const char* known = ::strerrorname_np(e); known != nullptr && result == known) r.value = e;
        if (r.value == 0) refuse("RESULT is an errno name, a whole number, tell or sleepMS: '" + text + "'");
    }
    return r;
}

// The last part of NAME, a file with no name (O_TMPFILE) as #INODE.
std::string lastpart(std::string name) {
    constexpr char deleted[] = " (deleted)";
    if (name.size() > sizeof deleted - 1 && name.ends_with(deleted)) name.resize(name.size() - (sizeof deleted - 1));
    if (const std::size_t slash = name.find_last_of('/'); slash != std::string::npos) name.erase(0, slash + 1);
    return name;
}

// The last part of the name the link LINK (under /proc) points to.
std::string linked(const std::string& link) {
    char target[4096];
    const ssize_t n = ::readlink(link.c_str(), target, sizeof target);
    return n > 0 ? lastpart(std::string(target, static_cast<std::size_t>(n))) : std::string();
}

// The text at ADDRESS in process PID, up to its end or 4096 bytes.
std::string nameat(pid_t pid, unsigned long long address) {
    if (address == 0) return {};
    const std::string memory = "/proc/" + std::to_string(pid) + "/mem";
    const int fd = ::open(memory.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return {};
    std::string text(4096, '\0');
    const ssize_t n = ::pread(fd, text.data(), text.size(), static_cast<off_t>(address));
    ::close(fd);
    text.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
    text.resize(std::strlen(text.c_str()));
    return text;
}

// The file a notified call is on, as rules match it.
std::string fileof(const seccomp_notif& call, const callinfo& info) {
    const pid_t pid = static_cast<pid_t>(call.pid);
    if (info.namearg >= 0) {
        const std::string name = nameat(pid, call.data.args[info.namearg]);
        if (!name.empty() || info.fdarg < 0) return lastpart(name);
    }
    // A call on a descriptor: the file it is open on; on neither: the program.
    const std::string proc = "/proc/" + std::to_string(pid);
    if (info.fdarg < 0) return linked(proc + "/exe");
    return linked(proc + "/fd/" + std::to_string(static_cast<int>(call.data.args[info.fdarg])));
}

bool matches(rule& r, const seccomp_notif& call) {
    if (call.data.nr != r.call->number) return false;
    if (!r.file.empty()) {
        const int fd = r.call->fdarg >= 0 ? static_cast<int>(call.data.args[r.call->fdarg]) : -1;
        const bool standard = r.file.size() == 3 && r.file.starts_with("fd") && r.file[2] >= '0' && r.file[2] <= '2';
        if (standard ? fd != r.file[2] - '0' : ::fnmatch(r.file.c_str(), fileof(call, *r.call).c_str(), 0) != 0)
            return false;
    }
    ++r.seen;
    return r.nth == 0 || r.seen == r.nth;
}

int listener = -1;
pid_t child = -1;

void passon(int signal) {
    if (child > 0) ::kill(child, signal);
}

// Installs the filter that hands the calls NUMBERS to a listener, and returns
// the listener.
int installfilter(const std::vector<long>& numbers) {
    std::vector<sock_filter> program;
    program.push_back(BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, arch)));
    program.push_back(BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, AUDIT_ARCH_X86_64, 1, 0));
    program.push_back(BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW));
    program.push_back(BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)));
    for (long n : numbers) {
        program.push_back(BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, static_cast<unsigned>(n), 0, 1));
        program.push_back(BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_USER_NOTIF));
    }
    program.push_back(BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW));
    sock_fprog filter{static_cast<unsigned short>(program.size()), program.data()};
    if (::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0) return -1;
    return static_cast<int>(::syscall(SYS_seccomp, SECCOMP_SET_MODE_FILTER, SECCOMP_FILTER_FLAG_NEW_LISTENER, &filter));
}

// One byte, and room for one descriptor, as a message on the socket pair.
struct fdmessage {
    char byte = 0;
    iovec io{&byte, 1};
    alignas(cmsghdr) char room[CMSG_SPACE(sizeof(int))] = {};
    msghdr message{nullptr, 0, &io, 1, room, sizeof room, 0};
    fdmessage() = default;
    fdmessage(const fdmessage&) = delete;
};

void sendfd(int socket, int fd) {
    fdmessage m;
    cmsghdr* header = CMSG_FIRSTHDR(&m.message);
    header->cmsg_level = SOL_SOCKET;
    header->cmsg_type = SCM_RIGHTS;
    header->cmsg_len = CMSG_LEN(sizeof(int));
    std::memcpy(CMSG_DATA(header), &fd, sizeof fd);
    if (::sendmsg(socket, &m.message, 0) != 1) ::_exit(125);
}

int receivefd(int socket) {
    fdmessage m;
    if (::recvmsg(socket, &m.message, 0) != 1) return -1;
    const cmsghdr* header = CMSG_FIRSTHDR(&m.message);
    if (header == nullptr || header->cmsg_type != SCM_RIGHTS) return -1;
    int fd;
    std::memcpy(&fd, CMSG_DATA(header), sizeof fd);
    return fd;
}

// Answers each call the filter hands over until no process is left under it.
void serve(std::vector<rule>& rules) {
    seccomp_notif_sizes sizes{};
    if (::syscall(SYS_seccomp, SECCOMP_GET_NOTIF_SIZES, 0, &sizes) != 0) refuse("cannot ask seccomp its sizes");
    std::vector<char> callroom(std::max<std::size_t>(sizes.seccomp_notif, sizeof(seccomp_notif)));
    std::vector<char> answerroom(std::max<std::size_t>(sizes.seccomp_notif_resp, sizeof(seccomp_notif_resp)));
    for (;;) {
        pollfd wait{listener, POLLIN, 0};
        if (::poll(&wait, 1, -1) < 0) {
            if (errno == EINTR) continue;
            refuse(std::string("poll: ") + std::strerror(errno));
        }
        if ((wait.revents & POLLIN) == 0) return;  // POLLHUP: no process is left under the filter
        std::fill(callroom.begin(), callroom.end(), '\0');
        auto* call = reinterpret_cast<seccomp_notif*>(callroom.data());
        if (::ioctl(listener, SECCOMP_IOCTL_NOTIF_RECV, call) != 0) {
            if (errno == EINTR || errno == ENOENT) continue;  // the caller went meanwhile
            refuse(std::string("cannot take a call: ") + std::strerror(errno));
        }
        std::fill(answerroom.begin(), answerroom.end(), '\0');
        auto* answer = reinterpret_cast<seccomp_notif_resp*>(answerroom.data());
        answer->id = call->id;
        answer->flags = SECCOMP_USER_NOTIF_FLAG_CONTINUE;
        for (rule& r : rules) {
            if (!matches(r, *call)) continue;
            if (r.what == action::tell) {
                std::fprintf(stderr, "faults: %s %s\n", r.call->name, fileof(*call, *r.call).c_str());
                std::fflush(stderr);
                continue;
            }
            if (r.what == action::late) {
                // Every other process under the filter waits meanwhile for
                // its own listed calls: a test's races are few and short.
                const timespec pause{r.value / 1000, (r.value % 1000) * 1000000};
                ::nanosleep(&pause, nullptr);
                break;
            }
            answer->flags = 0;
            answer->error = r.what == action::fail ? -static_cast<int>(r.value) : 0;
            answer->val = r.what == action::give ? r.value : 0;
            break;
        }
        // A caller that went meanwhile (ENOENT) needs no answer.
        if (::ioctl(listener, SECCOMP_IOCTL_NOTIF_SEND, answer) != 0 && errno != ENOENT)
            refuse(std::string("cannot answer a call: ") + std::strerror(errno));
    }
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<rule> rules;
    int k = 1;
    for (; k < argc && std::strcmp(argv[k], "--") != 0; ++k) rules.push_back(parserule(argv[k]));
    if (k + 1 >= argc) refuse("usage: faults RULE... -- COMMAND [ARGUMENT...]");
    std::vector<long> numbers;
    for (const rule& r : rules)
        if (std::find(numbers.begin(), numbers.end(), r.call->number) == numbers.end())
            numbers.push_back(r.call->number);

    int pair[2];
    if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, pair) != 0) refuse("cannot make a socket pair");
    child = ::fork();
    if (child < 0) refuse("cannot start the command");
    if (child == 0) {
        const int fd = installfilter(numbers);
        if (fd < 0) {
            std::fprintf(stderr, "faults: cannot set up the filter: %s\n", std::strerror(errno));
            ::_exit(125);
        }
        sendfd(pair[1], fd);
        // The listener and the socket close on exec, which makes no call the
        // filter hands over.
        ::execvp(argv[k + 1], argv + k + 1);
        std::fprintf(stderr, "faults: cannot run %s: %s\n", argv[k + 1], std::strerror(errno));
        ::_exit(127);
    }
    ::close(pair[1]);
    for (int signal : {SIGTERM, SIGINT, SIGHUP, SIGALRM, SIGUSR1, SIGUSR2}) {
        struct sigaction pass {};
        pass.sa_handler = passon;
        ::sigaction(signal, &pass, nullptr);
    }
    listener = receivefd(pair[0]);
    if (listener >= 0) serve(rules);
    int status = 0;
    while (::waitpid(child, &status, 0) < 0)
        if (errno != EINTR) refuse("cannot wait for the command");
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}
