// The control socket's cost, measured from outside the real panel:
//   bench_remote wire    a client's move to "!pos_" on the controller's line (1000 commands)
//   bench_remote status  status round trips (1000), then the poll interval with and
//                        without 1000 status requests a second
//   bench_remote idle    the panel's CPU on the virtual stage with 0 and 10 subscribers
// For wire and status the panel's controller is a pseudo-terminal read here and never
// answered: only the panel's own timing is measured.

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double Ms(Clock::duration d)
{
    return std::chrono::duration<double, std::milli>(d).count();
}

// The panel running now: a failed run must not leave it behind.
pid_t runningPanel = -1;

[[noreturn]] void Fail(const char *what)
{
    std::fprintf(stderr, "bench_remote: %s: %s\n", what, std::strerror(errno));
    if (runningPanel > 0)
        ::kill(runningPanel, SIGTERM);
    std::exit(1);
}

struct Panel
{
    pid_t pid = -1;
    std::string socket;

    explicit Panel(std::vector<std::string> args)
    {
        char folder[] = "/tmp/movexa-bench-XXXXXX";
        if (!::mkdtemp(folder))
            Fail("mkdtemp");
        socket = std::string(folder) + "/s.sock";
        args.insert(args.begin(), PANEL_PATH);
        for (const char *a : {"--control-socket", socket.c_str(), "-platform", "offscreen"})
            args.emplace_back(a);
        pid = ::fork();
        if (pid == 0) {
            ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
            const int null = ::open("/dev/null", O_WRONLY);
            ::dup2(null, 1);
            ::dup2(null, 2);
            std::vector<char *> argv;
            for (std::string &a : args)
                argv.push_back(a.data());
            argv.push_back(nullptr);
            ::execv(argv[0], argv.data());
            ::_exit(127);
        }
        runningPanel = pid;
    }
    ~Panel()
    {
        ::kill(pid, SIGTERM);
        ::waitpid(pid, nullptr, 0);
        runningPanel = -1;
        ::unlink(socket.c_str());
        ::unlink((socket + ".lock").c_str());
        ::rmdir(socket.substr(0, socket.rfind('/')).c_str());
    }

    int Connect() const
    {
        sockaddr_un a{};
        a.sun_family = AF_UNIX;
        std::snprintf(a.sun_path, sizeof a.sun_path, "%s", socket.c_str());
        for (int attempt = 0; attempt < 1000; ++attempt) {
            const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
            if (::connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0)
                return fd;
            ::close(fd);
            ::poll(nullptr, 0, 10);  // the panel is still starting
        }
        Fail("connect");
    }

    // CPU seconds (user and system, all threads) so far.
    double CpuSeconds() const
    {
        char path[64];
        std::snprintf(path, sizeof path, "/proc/%d/stat", int(pid));
        FILE *f = std::fopen(path, "r");
        if (!f)
            Fail("/proc stat");
        unsigned long utime = 0, stime = 0;
        // Fields 14 and 15 follow the name in parentheses and eleven more.
        if (std::fscanf(f, "%*d (%*[^)]) %*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %lu %lu",
                        &utime, &stime) != 2)
            Fail("/proc stat format");
        std::fclose(f);
        return double(utime + stime) / double(::sysconf(_SC_CLK_TCK));
    }
};

// Reads one line from fd, waiting at most ms; "" on time-out.
std::string ReadLine(int fd, std::string &buffer, int ms = 5000)
{
    const Clock::time_point end = Clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
        const size_t nl = buffer.find('\n');
        if (nl != std::string::npos) {
            std::string line = buffer.substr(0, nl);
            buffer.erase(0, nl + 1);
            return line;
        }
        pollfd p{fd, POLLIN, 0};
        const int left = std::max(0, int(Ms(end - Clock::now())));
        if (::poll(&p, 1, left) <= 0)
            return {};
        char chunk[65536];
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n <= 0)
            Fail("read");
        buffer.append(chunk, size_t(n));
    }
}

void Send(int fd, const std::string &line)
{
    if (::write(fd, line.data(), line.size()) != ssize_t(line.size()))
        Fail("write");
}

std::string Request(int id, const char *method, const std::string &params = {})
{
    return "{\"jsonrpc\":\"2.0\",\"id\":" + std::to_string(id) + ",\"method\":\"" + method
           + "\"" + (params.empty() ? "" : ",\"params\":" + params) + "}\n";
}

// The panel's controller: a pseudo-terminal whose other end the panel opens.
int OpenPty(std::string *slave)
{
    const int fd = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0 || ::grantpt(fd) != 0 || ::unlockpt(fd) != 0)
        Fail("pseudo-terminal");
    *slave = ::ptsname(fd);
    return fd;
}

// Waits until the panel has opened its port and takes motion commands.
void AwaitConnected(int client, std::string &buffer)
{
    for (int id = 1000; id < 1500; ++id) {
        Send(client, Request(id, "hello"));
        if (ReadLine(client, buffer).find("\"connected\":true") != std::string::npos)
            return;
        ::poll(nullptr, 0, 10);
    }
    errno = 0;
    Fail("the panel did not connect");
}

void Report(const char *what, std::vector<double> ms)
{
    std::sort(ms.begin(), ms.end());
    std::printf("%s: n %zu, median %.3f ms, 99%% %.3f ms, worst %.3f ms\n", what, ms.size(),
                ms[ms.size() / 2], ms[ms.size() * 99 / 100], ms.back());
}

void Wire()
{
    std::string slave, clientBuffer, line;
    const int pty = OpenPty(&slave);
    Panel panel({"--controller-port", slave});
    const int client = panel.Connect();
    AwaitConnected(client, clientBuffer);
    std::vector<double> ms;
    std::string ptyBuffer;
    for (int i = 0; i < 1000; ++i) {
        while (!ReadLine(pty, ptyBuffer, 0).empty()) {}  // the polls' queries so far
        const Clock::time_point t0 = Clock::now();
        Send(client, Request(i, "move", i % 2 ? "{\"to\":1.5}" : "{\"to\":-1.5}"));
        while ((line = ReadLine(pty, ptyBuffer)).compare(0, 5, "!pos_") != 0) {
            if (line.empty())
                Fail("no !pos_ line");
        }
        ms.push_back(Ms(Clock::now() - t0));
        ReadLine(client, clientBuffer);  // "sent"
    }
    Report("move to !pos_", ms);
}

// Intervals between the panel's "?status" queries over seconds, with a status request
// every millisecond when loaded.
void PollIntervals(int pty, int client, std::string &clientBuffer, bool loaded, double seconds)
{
    std::string ptyBuffer;
    std::vector<double> intervals;
    Clock::time_point last{};
    const Clock::time_point start = Clock::now();
    Clock::time_point nextRequest = start;
    int sent = 0, answered = 0;
    while (Clock::now() - start < std::chrono::duration<double>(seconds)) {
        if (loaded && Clock::now() >= nextRequest) {
            Send(client, Request(sent++, "status"));
            nextRequest += std::chrono::milliseconds(1);
        }
        pollfd p[2] = {{pty, POLLIN, 0}, {client, POLLIN, 0}};
        ::poll(p, 2, loaded ? 1 : 50);
        std::string line;
        if (p[0].revents & POLLIN) {
            while (!(line = ReadLine(pty, ptyBuffer, 0)).empty()) {
                if (line != "?status")
                    continue;
                const Clock::time_point now = Clock::now();
                if (last != Clock::time_point{})
                    intervals.push_back(Ms(now - last));
                last = now;
            }
        }
        if (p[1].revents & POLLIN)
            while (!ReadLine(client, clientBuffer, 0).empty())
                ++answered;
    }
    double worst = 0.0;
    int late = 0;
    for (double i : intervals) {
        worst = std::max(worst, std::abs(i - 200.0));
        late += std::abs(i - 200.0) > 5.0;
    }
    std::sort(intervals.begin(), intervals.end());
    std::printf("poll interval %s: %zu intervals, median %.2f ms, %d off 200 ms by more than "
                "5 ms, worst by %.2f ms; %d of %d status requests answered (%.0f/s)\n",
                loaded ? "under load" : "idle", intervals.size(),
                intervals[intervals.size() / 2], late, worst, answered, sent, answered / seconds);
}

void Status()
{
    std::string slave, buffer;
    const int pty = OpenPty(&slave);
    Panel panel({"--controller-port", slave});
    const int client = panel.Connect();
    AwaitConnected(client, buffer);
    std::vector<double> ms;
    for (int i = 0; i < 1000; ++i) {
        const Clock::time_point t0 = Clock::now();
        Send(client, Request(i, "status"));
        if (ReadLine(client, buffer).empty())
            Fail("no status reply");
        ms.push_back(Ms(Clock::now() - t0));
    }
    Report("status round trip", ms);
    PollIntervals(pty, client, buffer, false, 10.0);
    PollIntervals(pty, client, buffer, true, 10.0);
}

void Idle()
{
    for (const int count : {0, 10}) {
        Panel panel({"--virtual-stage"});
        std::string buffer;
        const int first = panel.Connect();
        AwaitConnected(first, buffer);
        std::vector<int> clients;
        std::vector<std::string> buffers(static_cast<size_t>(count));
        for (int i = 0; i < count; ++i) {
            clients.push_back(panel.Connect());
            Send(clients.back(), Request(1, "subscribe"));
        }
        const auto readFor = [&](double seconds) {
            const Clock::time_point end =
                Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                   std::chrono::duration<double>(seconds));
            while (Clock::now() < end) {
                for (int i = 0; i < count; ++i)
                    while (!ReadLine(clients[size_t(i)], buffers[size_t(i)], 0).empty()) {}
                ::poll(nullptr, 0, 20);
            }
        };
        readFor(2.0);  // past the start and the connection's queries
        const double cpu0 = panel.CpuSeconds();
        const Clock::time_point t0 = Clock::now();
        readFor(30.0);
        const double share = (panel.CpuSeconds() - cpu0) / (Ms(Clock::now() - t0) / 1000.0);
        std::printf("idle panel on the virtual stage, %d subscribed clients: %.2f %% of a core\n",
                    count, share * 100.0);
        for (int fd : clients)
            ::close(fd);
        ::close(first);
    }
}

}  // namespace

int main(int argc, char *argv[])
{
    ::signal(SIGPIPE, SIG_IGN);
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "wire")
        Wire();
    else if (mode == "status")
        Status();
    else if (mode == "idle")
        Idle();
    else {
        std::fprintf(stderr, "usage: bench_remote wire|status|idle\n");
        return 2;
    }
    return 0;
}
