#include "app/unixsignals.h"

#include <QtGlobal>

#ifdef Q_OS_UNIX
#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace {

const int kSignals[] = {SIGTERM, SIGINT, SIGHUP};

// [0] read by the event loop, [1] written by the handler.
int signalSocket[2] = {-1, -1};

void OnSignal(int number)
{
    // Only async-signal-safe calls here. A full socket (signals faster than
    // the event loop reads them) loses nothing that matters: one is enough.
    const int saved = errno;
    const unsigned char byte = static_cast<unsigned char>(number);
    [[maybe_unused]] const ssize_t n =
        ::send(signalSocket[1], &byte, 1, MSG_DONTWAIT | MSG_NOSIGNAL);
    errno = saved;
}

}  // namespace

UnixSignals_c::UnixSignals_c(QObject *parent)
    : QObject(parent)
{
    if (signalSocket[0] >= 0)
        return;  // another instance has them
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, signalSocket) != 0) {
        signalSocket[0] = signalSocket[1] = -1;
        return;
    }
    notifier = new QSocketNotifier(signalSocket[0], QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, &UnixSignals_c::OnReadable);
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int number : kSignals)
        ::sigaction(number, &action, nullptr);
}

UnixSignals_c::~UnixSignals_c()
{
    if (!notifier)
        return;
    for (const int number : kSignals)
        ::signal(number, SIG_DFL);
    delete notifier;
    ::close(signalSocket[0]);
    ::close(signalSocket[1]);
    signalSocket[0] = signalSocket[1] = -1;
}

void UnixSignals_c::OnReadable()
{
    unsigned char numbers[16];
    const ssize_t n = ::recv(signalSocket[0], numbers, sizeof numbers, MSG_DONTWAIT);
    for (ssize_t i = 0; i < n; ++i)
        emit Received(numbers[i]);
}

#else

UnixSignals_c::UnixSignals_c(QObject *parent)
    : QObject(parent)
{
}

UnixSignals_c::~UnixSignals_c() = default;

void UnixSignals_c::OnReadable()
{
}

#endif
