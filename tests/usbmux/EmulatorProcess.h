#pragma once

#include <QProcess>
#include <QTemporaryDir>

// The emulated usbmuxd, started over the phones of SPACEWELL_SIM_ROOT, with the environment
// set so that the real-device framework build finds it.
class EmulatorProcess
{
public:
    EmulatorProcess() = default;
    EmulatorProcess(const EmulatorProcess&) = delete;
    EmulatorProcess& operator=(const EmulatorProcess&) = delete;
    ~EmulatorProcess();

    // Sets SPACEWELL_SIM_ROOT, USBMUXD_SOCKET_ADDRESS and SPACEWELL_FRAMEWORK_DIR, then starts
    // the emulator and waits until it listens. Empty on success, else what went wrong.
    QString start(const QString& simRoot);
    // Stops the daemon, as usbmuxd exits once the last phone is unplugged.
    void stop();
    // The pair record the host saved through the daemon for a phone.
    QString pairRecordPath(const QString& udid) const;
    // "<what> <TLS version>" for each TLS session the phone accepted ("lockdown", "service").
    QStringList tlsSessions(const QString& udid) const;
    // Connections to phones open now (lockdown and services), as the emulator counts them.
    int openConnections() const;

private:
    QTemporaryDir m_dir;
    QProcess m_process;
};
