#pragma once

#include <QStringList>

#include <cstdio>

// The line idevicebackup2 prints while the phone shows its passcode prompt before a backup
// ("com.apple.LocalAuthentication.ui.presented"; tools/idevicebackup2.c), and the line the
// backup tools print when the prompt is gone ("...ui.dismissed").
inline constexpr char passcodeWaitLine[] = "*** Waiting for passcode to be entered on the device ***";
inline constexpr char passcodeEnteredLine[] = "Passcode prompt closed on the device.";

// The command lines the program gives the backup tool:
//   -u UDID --backup --target UDID --root R
//   -u UDID --restore --target UDID --root R --source UDID [--password-stdin]
//   -u UDID --encryption-on --password-stdin   (the phone encrypts its backups from now on)
// With --password-stdin the password of an encrypted backup is the first line of standard input:
// never on a command line, where other processes could read it.
struct BackupToolArguments
{
    bool backup = false;
    bool restore = false;
    bool encryptionOn = false;
    bool passwordOnStdin = false;
    QString udid;
    QString target;
    QString root;
    QString source;

    // Empty when the arguments are one of the command lines, else what is wrong.
    QString parse(const QStringList& arguments)
    {
        for (int i = 0; i < arguments.size(); ++i) {
            const QString& a = arguments.at(i);
            auto next = [&](QString& into) {
                if (i + 1 >= arguments.size())
                    return false;
                into = arguments.at(++i);
                return true;
            };
            if (a == QLatin1String("--backup"))
                backup = true;
            else if (a == QLatin1String("--restore"))
                restore = true;
            else if (a == QLatin1String("--encryption-on"))
                encryptionOn = true;
            else if (a == QLatin1String("--password-stdin"))
                passwordOnStdin = true;
            else if (!((a == QLatin1String("-u") && next(udid)) ||
                       (a == QLatin1String("--target") && next(target)) ||
                       (a == QLatin1String("--root") && next(root)) ||
                       (a == QLatin1String("--source") && next(source))))
                return QStringLiteral("unexpected argument \"%1\"").arg(a);
        }
        if (int(backup) + int(restore) + int(encryptionOn) != 1)
            return QStringLiteral("give one of --backup, --restore and --encryption-on");
        if (encryptionOn && !passwordOnStdin)
            return QStringLiteral("--encryption-on takes the new password with --password-stdin");
        if (udid.isEmpty() || (root.isEmpty() && !encryptionOn))
            return QStringLiteral("-u and --root are required");
        if (restore && source.isEmpty())
            source = udid;
        return QString();
    }

    // The first line of standard input, when the arguments say the password comes there.
    QByteArray readPassword() const
    {
        if (!passwordOnStdin)
            return QByteArray();
        QByteArray line;
        for (int c = std::getchar(); c != EOF && c != '\n'; c = std::getchar())
            line += char(c);
        return line;
    }
};
