#include "TerminalSteps.h"

#include "PlainText.h"
#include "StepMonitor.h"

#include <QSocketNotifier>
#include <QThread>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace {
int interruptPipe[2] = {-1, -1};

void onSigint(int)
{
    const char byte = 1;
    // Nothing but the write may happen in a signal handler.
    [[maybe_unused]] const ssize_t n = ::write(interruptPipe[1], &byte, 1);
}
} // namespace

TerminalSteps::TerminalSteps(bool quiet) : m_quiet(quiet), m_terminal(::isatty(STDERR_FILENO) == 1)
{
    if (::pipe(interruptPipe) == 0) {
        for (int fd : interruptPipe)
            ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
        m_notifier = new QSocketNotifier(interruptPipe[0], QSocketNotifier::Read, this);
        connect(m_notifier, &QSocketNotifier::activated, this, &TerminalSteps::onInterrupt);
        struct sigaction action = {};
        action.sa_handler = onSigint;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        ::sigaction(SIGINT, &action, nullptr);
    }
}

TerminalSteps::~TerminalSteps()
{
    ::signal(SIGINT, SIG_DFL);
    for (int& fd : interruptPipe) {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
}

bool TerminalSteps::run(QThread& worker, StepMonitor& monitor)
{
    m_status.clear();
    m_percent = -1;
    connect(&monitor, &StepMonitor::progressed, this,
            [this](const QString& status, int percent, const QString&) { show(status, percent); });
    m_current = &monitor;
    // An interrupt that waited for a step that can be cancelled ends this one before it starts.
    if (m_interrupted && monitor.isCancellable())
        monitor.cancel();
    const bool succeeded =
        monitor.ending() == StepMonitor::Ending::Cancelled ? false : LocalStepRunner().run(worker, monitor);
    m_current = nullptr;
    if (!m_quiet && m_terminal && m_percent >= 0)
        std::fputc('\n', stderr);
    return succeeded;
}

void TerminalSteps::onInterrupt()
{
    char bytes[16];
    while (::read(interruptPipe[0], bytes, sizeof bytes) > 0) {
    }
    m_interrupted = true;
    if (m_current && m_current->isCancellable()) {
        m_current->cancel();
        if (!m_quiet)
            std::fputs(m_terminal ? "\nCancelling...\n" : "Cancelling...\n", stderr);
    } else if (!m_quiet) {
        std::fputs(m_terminal ? "\nThis step cannot be cancelled; stopping after it.\n"
                              : "This step cannot be cancelled; stopping after it.\n",
                   stderr);
    }
}

void TerminalSteps::show(const QString& status, int percent)
{
    if (m_quiet)
        return;
    const bool newStep = !status.isEmpty() && status != m_status;
    if (newStep)
        m_status = status;
    if (percent < 0)
        percent = qMax(0, m_percent);
    if (m_terminal) {
        if (percent == m_percent && !newStep)
            return;
        std::fprintf(stderr, "\r\033[K%s %d%%", qUtf8Printable(m_status), percent);
        std::fflush(stderr);
    } else if (newStep) {
        std::fprintf(stderr, "%s\n", qUtf8Printable(m_status));
    }
    m_percent = percent;
}

bool TerminalSteps::readLine(QByteArray& line)
{
    line.clear();
    for (;;) {
        // Ctrl+C while the prompt waits ends it, as it ends a step.
        pollfd fds[2] = {{STDIN_FILENO, POLLIN, 0}, {interruptPipe[0], POLLIN, 0}};
        if (::poll(fds, interruptPipe[0] >= 0 ? 2 : 1, -1) < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (fds[1].revents & POLLIN) {
            char bytes[16];
            while (::read(interruptPipe[0], bytes, sizeof bytes) > 0) {
            }
            m_interrupted = true;
            return false;
        }
        char c = 0;
        const ssize_t n = ::read(STDIN_FILENO, &c, 1);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0 || c == '\n')
            break;
        line.append(c);
    }
    if (line.endsWith('\r'))
        line.chop(1);
    return true;
}

StepRunner::Answer TerminalSteps::askPassword(const QString& question, QByteArray& password)
{
    if (passwordFromStdin) {
        if (m_stdinRead)
            return Answer::NobodyToAsk;
        m_stdinRead = true;
        return readLine(password) && !password.isEmpty() ? Answer::Given : Answer::NobodyToAsk;
    }
    if (::isatty(STDIN_FILENO) != 1)
        return Answer::NobodyToAsk;
    std::fprintf(stderr, "%s ", qUtf8Printable(plainText(question)));
    std::fflush(stderr);
    termios before = {};
    const bool echoOff = ::tcgetattr(STDIN_FILENO, &before) == 0;
    if (echoOff) {
        termios quiet = before;
        quiet.c_lflag &= tcflag_t(~ECHO);
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
    }
    const bool read = readLine(password);
    if (echoOff)
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &before);
    std::fputc('\n', stderr);
    return read && !password.isEmpty() ? Answer::Given : Answer::Cancelled;
}
