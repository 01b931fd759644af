#pragma once

#include "FlowResult.h"
#include "IOSDevice.h"
#include "ItemModelAppIcon.h"
#include "MobileDeviceManager.h"
#include "Panel.h"
#include "ProgressForm.h"

#include <QHash>
#include <QList>
#include <QMainWindow>
#include <QPair>
#include <QSet>

class MyListView;
class QCheckBox;
class QComboBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QTimer;
class QWidget;
class VendorLinks;

// The program's only main window: the device selector and panel, and the three panels with their
// Scan and Free Up buttons. The work behind the buttons is the flows'; the window asks, shows the
// steps and renders what they found.
class MainWindow : public QMainWindow
{
    Q_OBJECT
public:
    explicit MainWindow(QWidget* parent = nullptr);
    ~MainWindow() override;

    // How long after start-up the connect hint waits (tests shorten it).
    static int connectHintDelayMs;

    // The device of the selector's current entry; a default record when there is none.
    IOSDevice currentDevice() const;
    bool hasCurrentDevice() const;
    void resetDevicePanel();
    void showDeviceInfo(const IOSDevice& device);
    // The storage bar and text of the device; throws when the device cannot be asked.
    void showStorage(const IOSDevice& device);

public slots:
    void iosDeviceConnected(void* device);
    void iosDeviceDisconnected(void* device);
    void iosConnectTips();
    void checkAllApp(int state);
    void itemChecked(APPIconItemNode* node);
    void currentDeviceChanged(int index);
    void clearAppCache();
    void scanAppCache();
    void clearSysCache();
    void scanSysCache();
    void clearRemoveData();
    void scanRemoveData();
    void miCheckUpdate();
    void miHelp();
    void miFeedback();
    void miAbout();
    void miClearLogs();
    // Puts back what the last Free Up of the current device removed, after asking.
    void miUndo();
    void miDropUndo();
    void miEncryptBackups();

private:
    // Under the guard of the flow that asks for it.
    void encryptBackups();
    friend class FlowGuard;

    void buildWidgets();
    void buildMenus();
    void addFunctionEntries();
    void listSimulatedDevices();
    void showSimulatedDeviceData(const IOSDevice& device);
    QList<AppInfo> appsOfModel(bool checkedOnly) const;
    // The ticked entries of a backup panel, by id.
    QStringList tickedEntries(const BackupPanel& panel) const;
    void untickDataEntries();
    // Says how a flow ended where the flow's steps have not already: a warning that stopped it,
    // an error before any step, the closing message. True when it completed.
    bool renderEnding(const FlowResult& result);
    // After a restore: the storage of the device, when it is still the current one and can say.
    void refreshStorageAfter(const IOSDevice& device, const FlowResult& result);
    // A Free Up of the phone whose restore did not happen: its restore, without a new backup, when
    // the user wants it (then true); otherwise it is dropped.
    bool restoredPending(const BackupPanel& panel, const IOSDevice& device);
    void endFreeUp(const IOSDevice& device, const FlowResult& result);
    void setTotalsEmpty();
    // After the last step of a flow: closes the window when that was asked meanwhile, else
    // replays the device events that waited.
    void flowEnded();
    void replayDeviceEvents();

    ItemModelAppIcon* m_sysModel;
    ItemModelAppIcon* m_appModel;
    ItemModelAppIcon* m_removeModel;
    // The entries of the two backup panels, by id.
    QHash<QString, _APPIconItemNode*> m_entries;
    VendorLinks* m_vendor;
    QTimer* m_hintTimer;
    bool m_sawDevice = false;
    // Each step of a flow runs under a modal progress dialog.
    DialogStepRunner m_steps;
    // Phones whose unencrypted backups lack Safari and call history, offered encryption already.
    QSet<QString> m_encryptionOffered;
    MobileDeviceNotificationContext m_notificationContext;

    // Device events that arrive while a flow runs wait for its end.
    int m_busy = 0;
    QList<QPair<bool, void*>> m_pendingDeviceEvents;
    bool m_closeWhenIdle = false;

    QWidget* m_wdDeviceInfoInner = nullptr;
    QLabel* m_lbDeviceIcon = nullptr;
    QComboBox* m_cbDevices = nullptr;
    QProgressBar* m_pgSpace = nullptr;
    QLabel* m_lbSpaceInfo = nullptr;
    QLabel* m_lbTotalSysCache = nullptr;
    QLabel* m_lbTotalRemoveData = nullptr;
    QLabel* m_lbTotalAppCache = nullptr;
    QPushButton* m_btnScanSysCache = nullptr;
    QPushButton* m_btnClearSysCache = nullptr;
    QPushButton* m_btnScanRemvoeData = nullptr;
    QPushButton* m_btnRemoveData = nullptr;
    QPushButton* m_btnScanAppCache = nullptr;
    QPushButton* m_btnClearAppCache = nullptr;
    QCheckBox* m_ckAllApp = nullptr;
    MyListView* m_listSysFun = nullptr;
    MyListView* m_listRemoveFun = nullptr;
    MyListView* m_listApp = nullptr;
};
