#include "EmulatorProcess.h"

#include <QDir>
#include <QFile>

EmulatorProcess::~EmulatorProcess()
{
    stop();
}

void EmulatorProcess::stop()
{
    m_process.kill();
    m_process.waitForFinished(5000);
}

QString EmulatorProcess::start(const QString& simRoot)
{
    const QString socket = m_dir.filePath(QStringLiteral("usbmuxd"));
    const QString state = m_dir.filePath(QStringLiteral("lockdown"));
    QDir().mkpath(state);
    qputenv("SPACEWELL_SIM_ROOT", simRoot.toUtf8());
    qputenv("USBMUXD_SOCKET_ADDRESS", QByteArray("UNIX:") + socket.toUtf8());
    qputenv("SPACEWELL_FRAMEWORK_DIR", SPACEWELL_TEST_FRAMEWORKS "/usbmux");
    // It must not outlive the test that started it.
    qputenv("SPACEWELL_EMULATOR_TIED", "1");
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_process.start(QStringLiteral(SPACEWELL_USBMUXD_EMULATOR), {socket, state});
    if (!m_process.waitForStarted(5000))
        return m_process.errorString();
    // Making the phones' key pair takes a moment.
    while (!m_process.canReadLine()) {
        if (!m_process.waitForReadyRead(30000))
            return QStringLiteral("the emulator did not start: ") + m_process.errorString();
    }
    const QByteArray line = m_process.readLine().trimmed();
    return line == "ready" ? QString() : QString::fromUtf8(line);
}

QString EmulatorProcess::pairRecordPath(const QString& udid) const
{
    return m_dir.filePath(QStringLiteral("lockdown/") + udid + QStringLiteral(".plist"));
}

QStringList EmulatorProcess::tlsSessions(const QString& udid) const
{
    QFile file(m_dir.filePath(QStringLiteral("lockdown/") + udid + QStringLiteral(".tls")));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

int EmulatorProcess::openConnections() const
{
    QFile file(m_dir.filePath(QStringLiteral("lockdown/open-connections")));
    return file.open(QIODevice::ReadOnly) ? file.readAll().trimmed().toInt() : 0;
}
