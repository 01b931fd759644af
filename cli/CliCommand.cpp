#include "CliCommand.h"

#include "AppCacheFlow.h"
#include "AppListFlow.h"
#include "BackupCleanFlow.h"
#include "DeviceSpace.h"
#include "DeviceWatcher.h"
#include "EncryptionFlow.h"
#include "FormatSize.h"
#include "FrameworkLoader.h"
#include "PlainText.h"
#include "Product.h"
#include "TerminalSteps.h"
#include "UndoFlow.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTextStream>

#include <cstdio>
#include <unistd.h>

namespace {
const char usageText[] =
    "Usage: spacewell-cli devices [--json]\n"
    "       spacewell-cli scan junk|data|apps [--device UDID] [--json] [--quiet] [--password-stdin]\n"
    "       spacewell-cli free-up junk|data|apps [--device UDID] [--only ID,...] [--yes] [--json] [--quiet]\n"
    "                     [--password-stdin]\n"
    "       spacewell-cli undo [--device UDID] [--yes] [--quiet] [--password-stdin]   (put back what the "
    "last\n"
    "                     free-up removed)\n"
    "       spacewell-cli encrypt [--device UDID] [--password-stdin]   (the phone encrypts its backups from\n"
    "                     now on, with a new backup password)\n"
    "\n"
    "A phone whose backups are encrypted needs its backup password: asked at the terminal, or the first\n"
    "line of standard input with --password-stdin (never on the command line).\n"
    "Items for --only: cache, temp, junk (junk); messages, safari, calls (data); bundle identifiers\n"
    "(apps). Without --only, free-up junk frees every item and free-up apps every app; free-up data\n"
    "needs --only.\n"
    "Exit status: 0 success, 1 failure, 2 bad usage, 130 cancelled.\n"
    "\n"
    "Environment: SPACEWELL_FRAMEWORK_DIR (the device framework folder), SPACEWELL_SIM_ROOT (the\n"
    "simulated phones), USBMUXD_SOCKET_ADDRESS (usbmuxd's socket).\n";

void printError(const QString& text)
{
    std::fprintf(stderr, "spacewell-cli: %s\n", qUtf8Printable(plainText(text)));
}

int usageError(const QString& text)
{
    printError(text);
    std::fputs(usageText, stderr);
    return CliCommand::Usage;
}

QJsonValue bytesOrNull(qint64 bytes)
{
    return bytes < 0 ? QJsonValue() : QJsonValue(double(bytes));
}

QJsonObject deviceJson(const IOSDevice& device)
{
    return {{QStringLiteral("name"), device.deviceName},
            {QStringLiteral("udid"), device.uniqueDeviceId},
            {QStringLiteral("productVersion"), device.productVersion}};
}

QString panelTitle(const QString& panel)
{
    if (const BackupPanel* backup = BackupPanel::byId(panel))
        return backup->title;
    return QStringLiteral("Remove Apps Cache & Junk");
}
} // namespace

int CliCommand::run()
{
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption deviceOption(QStringLiteral("device"), QStringLiteral("The phone's UDID."),
                                          QStringLiteral("UDID"));
    const QCommandLineOption onlyOption(QStringLiteral("only"), QStringLiteral("The items to free."),
                                        QStringLiteral("ID,..."));
    const QCommandLineOption yesOption(QStringLiteral("yes"), QStringLiteral("Do not ask before deleting."));
    const QCommandLineOption jsonOption(QStringLiteral("json"), QStringLiteral("One JSON object on output."));
    const QCommandLineOption quietOption(QStringLiteral("quiet"), QStringLiteral("No progress."));
    const QCommandLineOption passwordOption(QStringLiteral("password-stdin"),
                                            QStringLiteral("The backup password on standard input."));
    const QCommandLineOption helpOption({QStringLiteral("h"), QStringLiteral("help")},
                                        QStringLiteral("Help."));
    const QCommandLineOption versionOption(QStringLiteral("version"), QStringLiteral("Version."));
    parser.addOptions({deviceOption, onlyOption, yesOption, jsonOption, quietOption, passwordOption,
                       helpOption, versionOption});
    if (!parser.parse(m_arguments))
        return usageError(parser.errorText());
    if (parser.isSet(helpOption)) {
        std::fputs(usageText, stdout);
        return Success;
    }
    if (parser.isSet(versionOption)) {
        std::printf("spacewell-cli %s\n", Product::versionText);
        return Success;
    }
    m_json = parser.isSet(jsonOption);
    m_yes = parser.isSet(yesOption);
    m_quiet = parser.isSet(quietOption);
    m_passwordStdin = parser.isSet(passwordOption);
    m_deviceId = parser.value(deviceOption);
    if (parser.isSet(onlyOption))
        m_only = parser.value(onlyOption).split(QLatin1Char(','), Qt::SkipEmptyParts);

    const QStringList words = parser.positionalArguments();
    const QString command = words.value(0);
    if (command.isEmpty())
        return usageError(QStringLiteral("no command given"));
    if (command == QLatin1String("devices") || command == QLatin1String("undo") ||
        command == QLatin1String("encrypt")) {
        if (words.size() != 1)
            return usageError(QStringLiteral("%1 takes no panel").arg(command));
    } else if (command == QLatin1String("scan") || command == QLatin1String("free-up")) {
        if (words.size() != 2)
            return usageError(QStringLiteral("%1 needs one panel: junk, data or apps").arg(command));
        const QString panel = words.at(1);
        if (panel != QLatin1String("apps") && !BackupPanel::byId(panel))
            return usageError(QStringLiteral("unknown panel \"%1\": junk, data or apps").arg(panel));
        if (command == QLatin1String("scan") && parser.isSet(onlyOption))
            return usageError(QStringLiteral("scan measures every item; --only is for free-up"));
        if (const BackupPanel* backup = BackupPanel::byId(panel);
            backup && command == QLatin1String("free-up")) {
            if (!parser.isSet(onlyOption) && backup->defaultTicks().isEmpty())
                return usageError(QStringLiteral("free-up %1 deletes what you name: give --only (%2)")
                                      .arg(panel, QStringLiteral("messages,safari,calls")));
            for (const QString& id : std::as_const(m_only)) {
                if (!backup->entry(id))
                    return usageError(QStringLiteral("unknown item \"%1\" for %2").arg(id, panel));
            }
            if (parser.isSet(onlyOption) && m_only.isEmpty())
                return usageError(QStringLiteral("--only names no item"));
        }
    } else {
        return usageError(QStringLiteral("unknown command \"%1\"").arg(command));
    }

    QString error;
    if (!load_apple_framework(error)) {
        printError(error);
        return Failure;
    }
    DeviceWatcher watcher;
    if (!watcher.collect(error)) {
        printError(error);
        return Failure;
    }
    const QList<IOSDevice> devices = watcher.devices();
    for (const QString& why : watcher.unreadable())
        printError(QStringLiteral("a phone could not be read: %1").arg(why));
    if (command == QLatin1String("devices"))
        return listDevices(devices);
    if (devices.isEmpty()) {
        printError(QStringLiteral("No phone is connected. Connect it with its USB cable, unlock it and "
                                  "tap Trust if it asks."));
        return Failure;
    }
    IOSDevice device;
    if (!m_deviceId.isEmpty()) {
        bool found = false;
        for (const IOSDevice& d : devices) {
            if (d.uniqueDeviceId.compare(m_deviceId, Qt::CaseInsensitive) == 0) {
                device = d;
                found = true;
            }
        }
        if (!found) {
            printError(QStringLiteral("No connected phone has the UDID %1.").arg(m_deviceId));
            listDevices(devices);
            return Failure;
        }
    } else if (devices.size() > 1) {
        printError(
            QStringLiteral("%1 phones are connected: choose one with --device UDID.").arg(devices.size()));
        listDevices(devices);
        return Usage;
    } else {
        device = devices.first();
    }
    TerminalSteps steps(m_quiet);
    steps.passwordFromStdin = m_passwordStdin;
    m_steps = &steps;
    if (command == QLatin1String("undo"))
        return runUndo(device);
    if (command == QLatin1String("encrypt"))
        return runEncrypt(device);
    return runPanel(command, words.at(1), device);
}

int CliCommand::listDevices(const QList<IOSDevice>& devices)
{
    QJsonArray list;
    QTextStream out(stdout);
    for (const IOSDevice& device : devices) {
        DeviceStorage storage;
        bool known = true;
        try {
            storage = DeviceStorage::of(device);
        } catch (const std::exception& e) {
            known = false;
        }
        QJsonObject entry = deviceJson(device);
        entry.insert(QStringLiteral("productType"), device.productType);
        entry.insert(QStringLiteral("total"), known ? bytesOrNull(storage.total) : QJsonValue());
        entry.insert(QStringLiteral("available"), known ? bytesOrNull(storage.available) : QJsonValue());
        list.append(entry);
        if (!m_json)
            out << device.deviceName << "  " << device.uniqueDeviceId << "  " << device.productType
                << "  iOS " << device.productVersion << "  "
                << (known ? QStringLiteral("%1 total, %2 available")
                                .arg(formatSize(storage.total), formatSize(storage.available))
                          : QStringLiteral("storage unknown"))
                << "\n";
    }
    if (m_json)
        out << QJsonDocument(QJsonObject{{QStringLiteral("devices"), list}}).toJson(QJsonDocument::Indented);
    else if (devices.isEmpty())
        printError(QStringLiteral("No phone is connected."));
    return devices.isEmpty() ? Failure : Success;
}

bool CliCommand::confirm(const QString& question)
{
    if (m_yes)
        return true;
    std::fprintf(stderr, "%s [y/N] ", qUtf8Printable(question));
    std::fflush(stderr);
    char answer[64] = {};
    if (!std::fgets(answer, sizeof answer, stdin))
        return false;
    return answer[0] == 'y' || answer[0] == 'Y';
}

int CliCommand::runPanel(const QString& command, const QString& panel, const IOSDevice& device)
{
    const bool freeUp = command == QLatin1String("free-up");
    if (const BackupPanel* backup = BackupPanel::byId(panel)) {
        const QStringList ticked = m_only.isEmpty() ? backup->defaultTicks() : m_only;
        const QString pending = freeUp ? BackupCleanFlow::pendingQuestion(*backup, device) : QString();
        const bool atTerminal = ::isatty(STDIN_FILENO) == 1;
        if (!pending.isEmpty() && (m_yes || atTerminal)) {
            if (m_yes || confirm(pending)) {
                if (!m_quiet && !m_json)
                    std::fprintf(stderr, "%s\n", qUtf8Printable(FlowSteps::findMyReminder()));
                return finish(panel, device, BackupCleanFlow(*m_steps).restorePending(device), true);
            }
            BackupCleanFlow::dropPending(device);
        }
        if (freeUp) {
            for (const PanelEntry& entry : backup->entries) {
                if (!entry.needsConfirmation || !ticked.contains(entry.id) || m_yes)
                    continue;
                // Nobody at a terminal to ask: deleting needs --yes.
                if (::isatty(STDIN_FILENO) != 1)
                    return usageError(
                        QStringLiteral("deleting %1 needs --yes when no one is asked at a terminal")
                            .arg(entry.name.toLower()));
                if (!confirm(QStringLiteral("Delete all %1 and their attached files from %2? This cannot be "
                                            "undone.")
                                 .arg(entry.name.toLower(), device.deviceName)))
                    return Cancelled;
            }
        }
        // The Free Up starts afresh, which drops the changes kept from the last one.
        if (!pending.isEmpty() && !m_yes && !atTerminal && !m_quiet)
            std::fprintf(stderr, "%s\n",
                         "The changes of the last Free Up, whose restore did not happen, are dropped (--yes "
                         "restores them); this Free Up starts with a new backup.");
        if (freeUp && !m_quiet && !m_json)
            std::fprintf(stderr, "%s\n", qUtf8Printable(FlowSteps::findMyReminder()));
        BackupCleanFlow flow(*m_steps);
        const FlowResult result = freeUp ? flow.freeUp(*backup, device, ticked) : flow.scan(*backup, device);
        return finish(panel, device, result, freeUp);
    }

    const AppListFlow::AppList list = AppListFlow(*m_steps).load(device);
    if (!list.outcome.completed())
        return finish(panel, device, list.outcome, freeUp);
    QList<AppInfo> apps = list.apps;
    if (freeUp && !m_only.isEmpty()) {
        QList<AppInfo> chosen;
        for (const QString& id : std::as_const(m_only)) {
            auto it = std::find_if(apps.cbegin(), apps.cend(),
                                   [&id](const AppInfo& a) { return a.identifier == id; });
            if (it == apps.cend())
                return usageError(QStringLiteral("no app \"%1\" on %2").arg(id, device.deviceName));
            chosen << *it;
        }
        apps = chosen;
    }
    AppCacheFlow flow(*m_steps);
    return finish(panel, device, freeUp ? flow.freeUp(device, apps) : flow.scan(device, apps), freeUp);
}

int CliCommand::runUndo(const IOSDevice& device)
{
    const QString question = UndoFlow::question(device);
    if (question.isEmpty()) {
        printError(QStringLiteral("There is no Free Up of %1 to undo.").arg(device.deviceName));
        return Failure;
    }
    if (!m_yes) {
        if (::isatty(STDIN_FILENO) != 1)
            return usageError(QStringLiteral("undo needs --yes when no one is asked at a terminal"));
        if (!confirm(question))
            return Cancelled;
    }
    const FlowResult result = UndoFlow(*m_steps).undo(device);
    if (!result.completed())
        return finish(QString(), device, result, true);
    QTextStream(stdout) << plainText(result.closingText) << "\n";
    return Success;
}

int CliCommand::runEncrypt(const IOSDevice& device)
{
    const FlowResult result = EncryptionFlow(*m_steps).turnOn(device);
    if (!result.completed())
        return finish(QString(), device, result, true);
    QTextStream(stdout) << plainText(result.closingText) << "\n";
    return Success;
}

int CliCommand::finish(const QString& panel, const IOSDevice& device, const FlowResult& result, bool freeUp)
{
    switch (result.ending) {
    case FlowResult::Ending::Cancelled:
        printError(QStringLiteral("Cancelled."));
        return Cancelled;
    case FlowResult::Ending::Blocked:
    case FlowResult::Ending::Failed:
        printError(result.message);
        return Failure;
    case FlowResult::Ending::Completed:
        break;
    }
    QTextStream out(stdout);
    if (m_json) {
        QJsonArray items;
        for (const FlowItem& item : result.items) {
            QJsonObject entry{{QStringLiteral("id"), item.id},
                              {QStringLiteral("name"), item.name},
                              {QStringLiteral("found"), bytesOrNull(item.found)}};
            if (freeUp)
                entry.insert(QStringLiteral("cleared"), bytesOrNull(item.cleared));
            if (!item.countedWith.isEmpty())
                entry.insert(QStringLiteral("countedWith"), item.countedWith);
            items.append(entry);
        }
        QJsonObject object{{QStringLiteral("device"), deviceJson(device)},
                           {QStringLiteral("panel"), panel},
                           {QStringLiteral("items"), items}};
        if (!result.notes.isEmpty())
            object.insert(QStringLiteral("notes"), QJsonArray::fromStringList(result.notes));
        if (freeUp) {
            object.insert(QStringLiteral("freeBefore"), bytesOrNull(result.freeBefore));
            object.insert(QStringLiteral("freeAfter"), bytesOrNull(result.freeAfter));
        }
        out << QJsonDocument(object).toJson(QJsonDocument::Indented);
        return Success;
    }
    out << panelTitle(panel) << " on " << device.deviceName << ":\n";
    for (const FlowItem& item : result.items) {
        QString figure;
        if (!item.countedWith.isEmpty()) {
            const FlowItem* with = result.item(item.countedWith);
            figure = QStringLiteral("counted with %1").arg(with ? with->name : item.countedWith);
        } else if (item.found < 0) {
            figure = QStringLiteral("not measured");
        } else if (freeUp && item.cleared >= 0) {
            figure = QStringLiteral("%1 freed of %2").arg(formatSize(item.cleared), formatSize(item.found));
        } else {
            figure = formatSize(item.found);
        }
        out << "  " << item.name.leftJustified(24) << " " << figure << "\n";
    }
    if (!result.refusedApps.isEmpty())
        out << "  The phone keeps the containers of " << result.refusedApps.size()
            << " app(s) closed: " << result.refusedApps.join(QStringLiteral(", ")) << "\n";
    if (freeUp) {
        out << plainText(result.closingText) << "\n";
    } else {
        out << "  Total: " << formatSize(result.found) << "\n";
        for (const QString& note : std::as_const(result.notes))
            out << "  " << note << "\n";
    }
    return Success;
}
