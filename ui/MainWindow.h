#pragma once

#include "IOSDevice.h"
#include "ItemModelAppIcon.h"
#include "MobileDeviceManager.h"

#include <QList>
#include <QMainWindow>
#include <QPair>

class MyListView;
class ProgressForm;
class QCheckBox;
class QComboBox;
class QDir;
class QLabel;
class QNetworkAccessManager;
class QNetworkReply;
class QProgressBar;
class QPushButton;
class QThread;
class QTimer;
class QWidget;

// The program's only main window: the device selector and panel, and the three panels with their
// Scan and Free Up buttons.
class BackupEdit;

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
    // Reads the device's backup settings; false (after a warning) when they forbid the work.
    bool checkBackupSettings(bool checkCloud, bool checkEncrypt);
    // What the warning about encrypted backups tells the user to do.
    static QString encryptedBackupWarning();
    // The device's free bytes, -1 when it cannot say (a simulated device, one that restarts).
    static qint64 deviceFreeBytes(const IOSDevice& device);

public slots:
    void onCheckVersionReadyRead(QNetworkReply* reply);
    void onGetAdvLinkRead(QNetworkReply* reply);
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

private:
    friend class FlowGuard;

    void buildWidgets();
    void startDailyCheck();
    void buildMenus();
    void addFunctionEntries();
    void listSimulatedDevices();
    void showSimulatedDeviceData(const IOSDevice& device);
    QString simulatedDataPath(const IOSDevice& device) const;
    // After a restore: re-reads the device's storage and says how much free space it gained since
    // `freeBefore` (empty when that is unknown).
    QString gainedText(const IOSDevice& device, qint64 freeBefore);
    QList<AppInfo> appsOfModel(bool checkedOnly) const;
    void setTotalsEmpty();
    // After the last step of a flow: closes the window when that was asked meanwhile, else
    // replays the device events that waited.
    void flowEnded();
    void replayDeviceEvents();

    // One step of a flow: the worker under its own progress dialog.
    bool runStep(ProgressForm& form, QThread& worker);
    // The backup step; on success `folder` is the temporary backup folder it used.
    bool backUp(const IOSDevice& device, QDir& folder);
    bool restore(const IOSDevice& device, const QDir& folder);
    // One cleaner step on the device's backup; adds its totals on success. The cleaners of a flow
    // share its edit: one read of the manifest, and after a Free Up one write (saveEdit).
    template <class Cleaner> bool clean(BackupEdit& edit, bool scanOnly, qint64& found, qint64& cleared);
    bool saveEdit(BackupEdit& edit);

    ItemModelAppIcon* m_sysModel;
    ItemModelAppIcon* m_appModel;
    ItemModelAppIcon* m_removeModel;
    _APPIconItemNode* m_cacheFiles = nullptr;
    _APPIconItemNode* m_tempFiles = nullptr;
    _APPIconItemNode* m_junkFiles = nullptr;
    _APPIconItemNode* m_messages = nullptr;
    _APPIconItemNode* m_safari = nullptr;
    _APPIconItemNode* m_callHistory = nullptr;
    QNetworkAccessManager* m_versionClient;
    QNetworkAccessManager* m_linkClient;
    QLabel* m_statusLabel = nullptr;
    QTimer* m_hintTimer;
    bool m_sawDevice = false;
    bool m_restoreRestarts = false; // the last restore restarts the device
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
