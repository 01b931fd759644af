#pragma once

#include "MainWindow.h"
#include "SimDeviceFolder.h"
#include "SimPhoneBuilder.h"

#include <QComboBox>
#include <QPushButton>
#include <QTemporaryDir>

#include <functional>
#include <memory>

// The main window on simulated phones, as the window suites use it: the phones live in `simRoot`,
// backups go to `backupRoot`, and phones arrive whole, built aside and moved in.
class WindowFixture
{
public:
    QTemporaryDir simRoot;
    QTemporaryDir backupRoot;
    std::unique_ptr<MainWindow> window;

    // Test folders, the program's translation, backups in backupRoot, and the device framework:
    // the simulated one on simRoot when `simFramework` names its folder, else the one the
    // environment already names. Empty, or what went wrong.
    QString prepare(const QString& simFramework = QString());
    // The window, shown; the connect hint waits `hintDelayMs`.
    bool openWindow(int hintDelayMs = 24 * 3600 * 1000);

    template <typename T> T* child(const char* name) const
    {
        return window->findChild<T*>(QLatin1String(name));
    }
    QComboBox* devices() const { return child<QComboBox>("cbDevices"); }
    void press(const char* button) const;
    QDir backupOf(const SimDeviceFolder& phone) const;

    // A phone named `name` with `content`, tuned before it arrives (and again once in place, for
    // switches the move must not lose); waits until the window lists it, answering its notes.
    std::unique_ptr<SimDeviceFolder> connectPhone(const QString& name, const SimPhoneContent& content,
                                                  const std::function<void(SimDeviceFolder&)>& tune = {},
                                                  int waitMs = 10000);
    // Unplugs every phone; true once the window lists none.
    bool removePhones(int waitMs = 5000);
    // Sets the identity values a phone reports.
    static void setIdentity(SimDeviceFolder& phone, const QString& version,
                            const QString& type = QStringLiteral("iPhone13,2"));
};
