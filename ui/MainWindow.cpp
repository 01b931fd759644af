#include "MainWindow.h"

#include "AboutUsForm.h"
#include "AppCacheFlow.h"
#include "AppFolders.h"
#include "AppListFlow.h"
#include "BackupCleanFlow.h"
#include "ClearLogFiles.h"
#include "DeviceSpace.h"
#include "EncryptionFlow.h"
#include "FileUtils.h"
#include "FormatSize.h"
#include "FrameworkLoader.h"
#include "MessageBoxes.h"
#include "MyListView.h"
#include "OpenExternal.h"
#include "Product.h"
#include "SelectAllCheckBox.h"
#include "SimulatedDeviceData.h"
#include "StyleSheet.h"
#include "UndoFlow.h"
#include "UndoStore.h"
#include "VendorLinks.h"
#include "VendorService.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateTime>
#include <QHBoxLayout>
#include <QHash>
#include <QLabel>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QSpacerItem>
#include <QStatusBar>
#include <QTimer>
#include <QVBoxLayout>

int MainWindow::connectHintDelayMs = 10000;

// Marks a flow as running; device events that arrive meanwhile are replayed at its end.
class FlowGuard
{
public:
    explicit FlowGuard(MainWindow* window) : m_window(window) { ++m_window->m_busy; }
    ~FlowGuard()
    {
        if (--m_window->m_busy == 0)
            QTimer::singleShot(0, m_window, [w = m_window] { w->flowEnded(); });
    }
    FlowGuard(const FlowGuard&) = delete;
    FlowGuard& operator=(const FlowGuard&) = delete;

private:
    MainWindow* m_window;
};

namespace {
const char pgSpaceStyle[] =
    "QProgressBar {\n        background:#ffffff;\n        border:1px solid #8C8C8C;\n        "
    "height:15px;\n}\n\nQProgressBar::chunk{\n        background:qlineargradient(x1: 0, y1: 0, "
    "x2: 0, y2: 1,\n                              stop: 0 #F4AE71, stop: 1 #E39048);\n}";

MyListView* makeList(QWidget* parent, const QString& name)
{
    auto* list = new MyListView(parent);
    list->setObjectName(name);
    list->setFocusPolicy(Qt::NoFocus);
    list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    list->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    list->setAutoScroll(false);
    list->setSelectionMode(QAbstractItemView::NoSelection);
    list->setSelectionBehavior(QAbstractItemView::SelectRows);
    list->setIconSize(QSize(64, 64));
    list->setMovement(QListView::Static);
    list->setSpacing(10);
    list->setViewMode(QListView::IconMode);
    list->setWordWrap(true);
    return list;
}

QLabel* makeLabel(QWidget* parent, const QString& name, const QString& text = QString())
{
    auto* label = new QLabel(text, parent);
    label->setObjectName(name);
    return label;
}

QPushButton* makeButton(QWidget* parent, const QString& name, const QString& text)
{
    auto* button = new QPushButton(text, parent);
    button->setObjectName(name);
    return button;
}

QString picture(const QString& productType)
{
    QString file = QStringLiteral(":res/iphone-big.png");
    if (productType.contains(QLatin1String("ipad"), Qt::CaseInsensitive))
        file = QStringLiteral(":res/ipad-big.png");
    else if (productType.contains(QLatin1String("ipod"), Qt::CaseInsensitive))
        file = QStringLiteral(":res/ipod-big.png");
    return QStringLiteral("<img src=\"%1\" width=\"96\" style=\"bolder:none;\" />").arg(file);
}
} // namespace

MainWindow::MainWindow(QWidget* parent)
    : QMainWindow(parent), m_sysModel(new ItemModelAppIcon(this)), m_appModel(new ItemModelAppIcon(this)),
      m_removeModel(new ItemModelAppIcon(this)), m_vendor(new VendorLinks(this)),
      m_hintTimer(new QTimer(this)), m_steps(this)
{
    qRegisterMetaType<IOSDevice>("IOSDevice");
    setObjectName(QStringLiteral("MainWindow"));
    resize(873, 625);
    buildWidgets();
    setStyleSheet(applicationStyleSheet());
    m_listSysFun->setStyleSheet(QStringLiteral("#listSysFun::item { margin-left:25px; }"));

    connect(m_cbDevices, &QComboBox::currentIndexChanged, this, &MainWindow::currentDeviceChanged);
    connect(m_ckAllApp, &QCheckBox::stateChanged, this, &MainWindow::checkAllApp);
    connect(m_appModel, &ItemModelAppIcon::itemChecked, this, &MainWindow::itemChecked);
    connect(m_btnClearAppCache, &QPushButton::pressed, this, &MainWindow::clearAppCache);
    connect(m_btnScanAppCache, &QPushButton::pressed, this, &MainWindow::scanAppCache);
    connect(m_btnClearSysCache, &QPushButton::pressed, this, &MainWindow::clearSysCache);
    connect(m_btnScanSysCache, &QPushButton::pressed, this, &MainWindow::scanSysCache);
    connect(m_btnRemoveData, &QPushButton::pressed, this, &MainWindow::clearRemoveData);
    connect(m_btnScanRemvoeData, &QPushButton::pressed, this, &MainWindow::scanRemoveData);
    connect(m_hintTimer, &QTimer::timeout, this, &MainWindow::iosConnectTips);

    m_listSysFun->setModel(m_sysModel);
    m_listApp->setModel(m_appModel);
    m_listRemoveFun->setModel(m_removeModel);
    addFunctionEntries();

    buildMenus();

    statusBar()->setStyleSheet(QStringLiteral("QStatusBar::item{border: 0px}"));
    statusBar()->addWidget(m_vendor->statusLabel());
    connect(m_vendor, &VendorLinks::updateAccepted, this, [this] {
        // Closing now would end the progress dialog of a running step but not its work: the
        // window closes once the step is over.
        if (m_busy)
            m_closeWhenIdle = true;
        else
            close();
    });

    setWindowTitle(tr("Vantelmoor Spacewell"));
    resetDevicePanel();

    m_hintTimer->setSingleShot(true);
    m_hintTimer->start(connectHintDelayMs);

    if (apple_framework_loaded()) {
        m_notificationContext.receiver = this;
        try {
            mobiledevice_subscribe(&m_notificationContext);
        } catch (const std::exception& e) {
            qWarning("%s", e.what());
            showErrorBox(QString::fromUtf8(e.what()));
        }
    }

    listSimulatedDevices();
    m_vendor->startDailyCheck();
}

MainWindow::~MainWindow()
{
    mobiledevice_stop_notifications(this);
}

void MainWindow::buildWidgets()
{
    auto* central = new QWidget(this);
    central->setObjectName(QStringLiteral("centralWidget"));
    auto* verticalLayout_2 = new QVBoxLayout(central);
    verticalLayout_2->setObjectName(QStringLiteral("verticalLayout_2"));
    verticalLayout_2->setSpacing(0);
    verticalLayout_2->setContentsMargins(0, 0, 0, 0);

    // Device panel: picture, selector, storage bar and text.
    auto* wdDeviceInfo = new QWidget(central);
    wdDeviceInfo->setObjectName(QStringLiteral("wdDeviceInfo"));
    wdDeviceInfo->setAttribute(Qt::WA_StyledBackground, true);
    auto* horizontalLayout_3 = new QHBoxLayout(wdDeviceInfo);
    horizontalLayout_3->setObjectName(QStringLiteral("horizontalLayout_3"));
    // Narrow top and bottom margins keep the whole device picture within the header's 120 pixels.
    horizontalLayout_3->setContentsMargins(9, 4, 9, 4);
    m_lbDeviceIcon = makeLabel(wdDeviceInfo, QStringLiteral("lbDeviceIcon"));
    m_lbDeviceIcon->setTextFormat(Qt::RichText);
    horizontalLayout_3->addWidget(m_lbDeviceIcon);
    m_wdDeviceInfoInner = new QWidget(wdDeviceInfo);
    m_wdDeviceInfoInner->setObjectName(QStringLiteral("wdDeviceInfoInner"));
    auto* verticalLayout = new QVBoxLayout(m_wdDeviceInfoInner);
    verticalLayout->setObjectName(QStringLiteral("verticalLayout"));
    m_cbDevices = new QComboBox(m_wdDeviceInfoInner);
    m_cbDevices->setObjectName(QStringLiteral("cbDevices"));
    m_cbDevices->setEditable(false);
    m_cbDevices->setMinimumHeight(23);
    m_cbDevices->setMaximumWidth(200);
    verticalLayout->addWidget(m_cbDevices);
    m_pgSpace = new QProgressBar(m_wdDeviceInfoInner);
    m_pgSpace->setObjectName(QStringLiteral("pgSpace"));
    m_pgSpace->setFixedWidth(200);
    m_pgSpace->setValue(0);
    m_pgSpace->setTextVisible(false);
    m_pgSpace->setOrientation(Qt::Horizontal);
    m_pgSpace->setStyleSheet(QLatin1String(pgSpaceStyle));
    verticalLayout->addWidget(m_pgSpace);
    m_lbSpaceInfo = makeLabel(m_wdDeviceInfoInner, QStringLiteral("lbSpaceInfo"));
    m_lbSpaceInfo->setMaximumWidth(400);
    m_lbSpaceInfo->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    verticalLayout->addWidget(m_lbSpaceInfo);
    verticalLayout->addItem(new QSpacerItem(20, 10, QSizePolicy::Minimum, QSizePolicy::Expanding));
    horizontalLayout_3->addWidget(m_wdDeviceInfoInner);
    horizontalLayout_3->addItem(new QSpacerItem(40, 20, QSizePolicy::Expanding, QSizePolicy::Minimum));
    verticalLayout_2->addWidget(wdDeviceInfo);
    m_lbDeviceIcon->setText(picture(QString()));
    wdDeviceInfo->setMaximumHeight(qMax(120, wdDeviceInfo->minimumSizeHint().height()));

    // A panel: header row with title, total and buttons, then its list.
    auto panel = [&](const QString& name, const QString& layoutName, const QString& titleName,
                     const QString& title, const QString& totalName, QLabel*& total, QCheckBox** checkAll,
                     const QString& scanName, QPushButton*& scan, const QString& clearName,
                     QPushButton*& clear, const QString& listName, MyListView*& list) {
        auto* widget = new QWidget(central);
        widget->setObjectName(name);
        widget->setAttribute(Qt::WA_StyledBackground, true);
        auto* column = new QVBoxLayout(widget);
        auto* header = new QHBoxLayout();
        header->setObjectName(layoutName);
        header->addWidget(makeLabel(widget, titleName, title));
        total = makeLabel(widget, totalName);
        header->addWidget(total);
        if (checkAll) {
            *checkAll = new SelectAllCheckBox(widget);
            (*checkAll)->setObjectName(QStringLiteral("ckAllApp"));
            header->addWidget(*checkAll);
        }
        header->addItem(new QSpacerItem(40, 20, QSizePolicy::Expanding, QSizePolicy::Minimum));
        scan = makeButton(widget, scanName, QStringLiteral("Scan"));
        clear = makeButton(widget, clearName, QStringLiteral("Free Up"));
        header->addWidget(scan);
        header->addWidget(clear);
        column->addLayout(header);
        list = makeList(widget, listName);
        column->addWidget(list);
        verticalLayout_2->addWidget(widget);
        return widget;
    };
    panel(QStringLiteral("wdSysCache"), QStringLiteral("horizontalLayout"), QStringLiteral("lbTitleSysCache"),
          QStringLiteral("Remove System Junk"), QStringLiteral("lbTotalSysCache"), m_lbTotalSysCache, nullptr,
          QStringLiteral("btnScanSysCache"), m_btnScanSysCache, QStringLiteral("btnClearSysCache"),
          m_btnClearSysCache, QStringLiteral("listSysFun"), m_listSysFun);
    // The two function lists show their three entries whole, names and sizes: at least the
    // designed height, more where the text needs it.
    m_listSysFun->setShowsAllEntries(true, 100);
    m_listSysFun->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    panel(QStringLiteral("wdRemoveData"), QStringLiteral("horizontalLayout_4"),
          QStringLiteral("lbTitleRemoveData"), QStringLiteral("Delete Unwanted Data"),
          QStringLiteral("lbTotalRemoveData"), m_lbTotalRemoveData, nullptr,
          QStringLiteral("btnScanRemvoeData"), m_btnScanRemvoeData, QStringLiteral("btnRemoveData"),
          m_btnRemoveData, QStringLiteral("listRemoveFun"), m_listRemoveFun);
    m_listRemoveFun->setShowsAllEntries(true, 110);
    m_listRemoveFun->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    QWidget* appPanel = panel(
        QStringLiteral("wdAppCache"), QStringLiteral("horizontalLayout_2"), QStringLiteral("lbTitleAppCache"),
        QStringLiteral("Remove Apps Cache & Junk"), QStringLiteral("lbTotalAppCache"), m_lbTotalAppCache,
        &m_ckAllApp, QStringLiteral("btnScanAppCache"), m_btnScanAppCache, QStringLiteral("btnClearAppCache"),
        m_btnClearAppCache, QStringLiteral("listApp"), m_listApp);
    m_listApp->setResizeMode(QListView::Adjust);
    // The app list takes every pixel of height the window has to spare and scrolls when the apps
    // need more; the window never gets smaller than one row of apps.
    m_listApp->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    m_listApp->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Expanding);
    verticalLayout_2->setStretchFactor(appPanel, 1);
    setCentralWidget(central);

    menuBar()->setObjectName(QStringLiteral("menuBar"));
    menuBar()->setGeometry(0, 0, 872, 21);
    statusBar()->setObjectName(QStringLiteral("statusBar"));
}

void MainWindow::buildMenus()
{
    QMenu* tools = menuBar()->addMenu(QStringLiteral("Tools"));
    tools->addAction(QStringLiteral("Check for Update"), this, &MainWindow::miCheckUpdate);
    tools->addAction(QStringLiteral("Clear Log Files"), this, &MainWindow::miClearLogs);
    tools->addSeparator();
    tools->addAction(QStringLiteral("Undo the Last Free Up"), this, &MainWindow::miUndo);
    tools->addAction(QStringLiteral("Drop the Undo Data"), this, &MainWindow::miDropUndo);
    tools->addAction(QStringLiteral("Encrypt the Device's Backups..."), this, &MainWindow::miEncryptBackups);
    QMenu* help = menuBar()->addMenu(QStringLiteral("Help"));
    help->addAction(QIcon(QStringLiteral(":res/help.png")), QStringLiteral("Help"), this,
                    &MainWindow::miHelp);
    help->addAction(QStringLiteral("Feedback and Support"), this, &MainWindow::miFeedback);
    help->addAction(QStringLiteral("About"), this, &MainWindow::miAbout);
}

void MainWindow::addFunctionEntries()
{
    // The identifier and picture the window gives each entry of the two backup panels.
    const QHash<QString, QPair<const char*, const char*>> looks = {
        {QStringLiteral("cache"), {"com.vantelmoor.spacewell.sysfunid.clear_sys", ":res/fun_clearsys.png"}},
        {QStringLiteral("temp"), {"com.vantelmoor.spacewell.sysfunid.clear_sys", ":res/fun_clearsys2.png"}},
        {QStringLiteral("junk"),
         {"com.vantelmoor.spacewell.sysfunid.clear_mms_invalid", ":res/fun_clearsysjunk.png"}},
        {QStringLiteral("messages"), {"com.vantelmoor.spacewell.rdfun.sms", ":res/fun_clearsms.png"}},
        {QStringLiteral("safari"), {"com.vantelmoor.spacewell.rdfun.safari", ":res/fun_clearsafari.png"}},
        {QStringLiteral("calls"), {"com.vantelmoor.spacewell.rdfun.calls", ":res/fun_clearcalls.png"}}};
    const QPair<const BackupPanel*, ItemModelAppIcon*> panels[] = {
        {&BackupPanel::systemJunk(), m_sysModel}, {&BackupPanel::unwantedData(), m_removeModel}};
    for (const auto& [panel, model] : panels) {
        for (const PanelEntry& entry : panel->entries) {
            const auto look = looks.value(entry.id);
            // Entries ticked by default are those a user cannot untick.
            auto* node = new _APPIconItemNode(nullptr, {QLatin1String(look.first), entry.name},
                                              QLatin1String(look.second), entry.tickedByDefault,
                                              entry.tickedByDefault);
            m_entries.insert(entry.id, node);
            model->appendNode(node);
        }
        model->announceLayoutChange();
    }
}

void MainWindow::untickDataEntries()
{
    for (const PanelEntry& entry : BackupPanel::unwantedData().entries)
        m_entries.value(entry.id)->checked = false;
    m_removeModel->announceLayoutChange();
}

void MainWindow::listSimulatedDevices()
{
    const QDir simulated(appDataDir().filePath(QStringLiteral("virtual_ios")));
    for (const QString& name : simulated.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Unsorted)) {
        IOSDevice device;
        device.deviceName = name;
        device.productType = name;
        m_cbDevices->addItem(QIcon(), name, QVariant::fromValue(device));
        m_cbDevices->setCurrentIndex(m_cbDevices->count() - 1);
    }
}

IOSDevice MainWindow::currentDevice() const
{
    return m_cbDevices->currentIndex() < 0 ? IOSDevice()
                                           : m_cbDevices->currentData(Qt::UserRole).value<IOSDevice>();
}

bool MainWindow::hasCurrentDevice() const
{
    return m_cbDevices->currentIndex() >= 0;
}

void MainWindow::iosDeviceConnected(void* device)
{
    m_sawDevice = true;
    if (m_busy) {
        m_pendingDeviceEvents.append({true, device});
        return;
    }
    FlowGuard guard(this);
    qInfo("A device arrived.");
    showInfoBox(
        QStringLiteral("<p><b>Notes:</b> If your iPhone is protected with a passcode, please enter your "
                       "passcode on iPhone first.</p>"));
    IOSDevice record;
    try {
        record = mobiledevice_read_device(device);
    } catch (const std::exception& e) {
        showErrorBox(QString::fromUtf8(e.what()));
        return;
    }
    // The kind of phone and its system help support read a log; its name stays out of it.
    qInfo("Device connected: %s, iOS %s", qUtf8Printable(record.productType),
          qUtf8Printable(record.productVersion));
    m_cbDevices->addItem(QIcon(), record.deviceName, QVariant::fromValue(record));
    m_cbDevices->setCurrentIndex(m_cbDevices->count() - 1);
}

void MainWindow::iosDeviceDisconnected(void* device)
{
    if (m_busy) {
        m_pendingDeviceEvents.append({false, device});
        return;
    }
    for (int i = 0; i < m_cbDevices->count(); ++i) {
        if (m_cbDevices->itemData(i, Qt::UserRole).value<IOSDevice>().device == device) {
            if (i == m_cbDevices->currentIndex())
                resetDevicePanel();
            m_cbDevices->removeItem(i);
            return;
        }
    }
}

void MainWindow::flowEnded()
{
    if (m_closeWhenIdle) {
        close();
        return;
    }
    replayDeviceEvents();
}

void MainWindow::replayDeviceEvents()
{
    while (!m_busy && !m_pendingDeviceEvents.isEmpty()) {
        const QPair<bool, void*> event = m_pendingDeviceEvents.takeFirst();
        if (event.first)
            iosDeviceConnected(event.second);
        else
            iosDeviceDisconnected(event.second);
    }
}

void MainWindow::iosConnectTips()
{
    if (m_cbDevices->count() > 0)
        return;
    QString text = QStringLiteral("Device not found. Please connect your device with USB cable.");
    // A fresh desktop often lacks the daemon that reaches phones: plugging in would change nothing.
    if (!m_sawDevice && mobiledevice_daemon_answers() == 0)
        text += QStringLiteral(
            "<br/><br/>Phones are reached through the usbmuxd service, which does not answer on "
            "this computer. On Debian, install it with <b>sudo apt install usbmuxd</b>, then "
            "plug the phone in: the service starts on its own.");
    showInfoBox(text);
}

void MainWindow::checkAllApp(int state)
{
    if (state == Qt::Checked || state == Qt::Unchecked) {
        for (_APPIconItemNode* node : m_appModel->entries())
            node->checked = state == Qt::Checked;
    }
    m_appModel->announceLayoutChange();
}

void MainWindow::itemChecked(APPIconItemNode*)
{
    int checked = 0;
    const QList<_APPIconItemNode*> entries = m_appModel->entries();
    for (_APPIconItemNode* node : entries)
        checked += node->checked ? 1 : 0;
    const Qt::CheckState state = checked == entries.size() ? Qt::Checked
                                 : checked > 0             ? Qt::PartiallyChecked
                                                           : Qt::Unchecked;
    m_ckAllApp->setCheckState(state);
}

void MainWindow::setTotalsEmpty()
{
    m_lbTotalAppCache->clear();
    m_lbTotalSysCache->clear();
    m_lbTotalRemoveData->clear();
}

void MainWindow::resetDevicePanel()
{
    m_wdDeviceInfoInner->hide();
    for (QPushButton* b : {m_btnScanSysCache, m_btnClearSysCache, m_btnScanRemvoeData, m_btnRemoveData,
                           m_btnScanAppCache, m_btnClearAppCache})
        b->hide();
    m_pgSpace->setValue(0);
    m_lbSpaceInfo->setText(tr("Total:, Available:"));
    m_appModel->removeAllChildren();
    m_appModel->announceLayoutChange();
    m_ckAllApp->setCheckState(Qt::Unchecked);
    setTotalsEmpty();
    untickDataEntries();
    m_lbDeviceIcon->setText(picture(QString()));
}

void MainWindow::showStorage(const IOSDevice& d)
{
    const DeviceStorage storage = DeviceStorage::of(d);
    m_lbSpaceInfo->setText(
        tr("Total: %1, Available: %2").arg(formatSize(storage.total), formatSize(storage.available)));
    m_pgSpace->setValue(storage.usedPercent());
}

void MainWindow::showDeviceInfo(const IOSDevice& d)
{
    m_wdDeviceInfoInner->show();
    for (QPushButton* b : {m_btnScanSysCache, m_btnClearSysCache, m_btnScanRemvoeData, m_btnRemoveData,
                           m_btnScanAppCache, m_btnClearAppCache})
        b->show();
    try {
        showStorage(d);
        m_lbDeviceIcon->setText(picture(d.productType));
        for (_APPIconItemNode* node : std::as_const(m_entries))
            node->size = -1;
        m_sysModel->announceLayoutChange();
        untickDataEntries();
        setTotalsEmpty();
    } catch (const std::exception& e) {
        m_pgSpace->setValue(0);
        m_lbSpaceInfo->setText(tr("Total:, Available:"));
        showErrorBox(QString::fromUtf8(e.what()));
    }
}

QList<AppInfo> MainWindow::appsOfModel(bool checkedOnly) const
{
    QList<AppInfo> apps;
    for (_APPIconItemNode* node : m_appModel->entries()) {
        if (!checkedOnly || node->checked)
            apps << node->appInfo();
    }
    return apps;
}

void MainWindow::currentDeviceChanged(int index)
{
    if (index < 0) {
        resetDevicePanel();
        return;
    }
    FlowGuard guard(this);
    const IOSDevice device = m_cbDevices->itemData(index, Qt::UserRole).value<IOSDevice>();
    showDeviceInfo(device);
    m_ckAllApp->setCheckState(Qt::Checked);
    if (!device.device) {
        showSimulatedDeviceData(device);
        return;
    }
    const AppListFlow::AppList loaded = AppListFlow(m_steps).load(device);
    if (!loaded.outcome.completed())
        return;
    m_appModel->removeAllChildren();
    for (const AppInfo& app : loaded.apps) {
        const QString icon = appCacheDir(device, app.identifier).filePath(QStringLiteral("iTunesArtwork"));
        m_appModel->appendNode(new _APPIconItemNode(nullptr, app, icon, true, false));
    }
    m_appModel->announceLayoutChange();
    // Scan measures the containers that open; with none it has nothing to measure.
    if (!loaded.apps.isEmpty() && !loaded.someContainerOpens)
        m_btnScanAppCache->hide();
}

void MainWindow::showSimulatedDeviceData(const IOSDevice& device)
{
    // A device without its data file lists no apps, not those of the device shown before.
    m_appModel->removeAllChildren();
    const SimulatedDeviceData data = SimulatedDeviceData::read(device);
    if (data.systemJunk >= 0)
        m_lbTotalSysCache->setText(QStringLiteral("(%1)").arg(formatSize(data.systemJunk)));
    if (data.messages >= 0) {
        m_entries.value(QStringLiteral("messages"))->size = data.messages;
        m_entries.value(QStringLiteral("safari"))->size = data.safari;
        m_entries.value(QStringLiteral("calls"))->size = data.calls;
        m_removeModel->announceLayoutChange();
        m_lbTotalRemoveData->setText(
            QStringLiteral("(%1)").arg(formatSize(data.messages + data.safari + data.calls)));
    }
    qint64 total = 0;
    for (const SimulatedDeviceData::App& app : data.apps) {
        auto* node =
            new _APPIconItemNode(nullptr, {app.identifier, app.identifier}, app.iconPath, true, false);
        node->size = app.cacheSize;
        total += node->size;
        m_appModel->appendNode(node);
    }
    m_appModel->announceLayoutChange();
    if (data.present)
        m_lbTotalAppCache->setText(QStringLiteral("(%1)").arg(formatSize(total)));
}

QStringList MainWindow::tickedEntries(const BackupPanel& panel) const
{
    QStringList ticked;
    for (const PanelEntry& entry : panel.entries) {
        if (m_entries.value(entry.id)->checked)
            ticked << entry.id;
    }
    return ticked;
}

bool MainWindow::renderEnding(const FlowResult& result)
{
    switch (result.ending) {
    case FlowResult::Ending::Completed:
        if (!result.closingText.isEmpty())
            showInfoBox(result.closingText);
        return true;
    case FlowResult::Ending::Blocked:
        showWarningBox(QStringLiteral("%1<br/><br/><img src=\"%2\"/>").arg(result.message, result.picture));
        return false;
    case FlowResult::Ending::Failed:
        // A step's own dialog has shown its error already.
        if (!result.reported)
            showErrorBox(result.message);
        return false;
    case FlowResult::Ending::Cancelled:
        return false;
    }
    return false;
}

void MainWindow::refreshStorageAfter(const IOSDevice& device, const FlowResult& result)
{
    if (result.freeAfter < 0 || !hasCurrentDevice() || currentDevice().device != device.device)
        return;
    try {
        showStorage(device);
    } catch (const std::exception& e) {
        qWarning("%s", e.what());
    }
}

void MainWindow::scanSysCache()
{
    if (!hasCurrentDevice())
        return;
    FlowGuard guard(this);
    const FlowResult result = BackupCleanFlow(m_steps).scan(BackupPanel::systemJunk(), currentDevice());
    if (!renderEnding(result))
        return;
    m_lbTotalSysCache->setText(QStringLiteral("(%1)").arg(formatSize(result.found)));
    m_lbTotalSysCache->setToolTip(result.notes.join(QLatin1Char('\n')));
}

void MainWindow::clearSysCache()
{
    if (!hasCurrentDevice())
        return;
    const IOSDevice device = currentDevice();
    const BackupPanel& panel = BackupPanel::systemJunk();
    if (restoredPending(panel, device))
        return;
    FlowGuard guard(this);
    statusBar()->showMessage(FlowSteps::findMyReminder());
    const FlowResult result = BackupCleanFlow(m_steps).freeUp(panel, device, tickedEntries(panel));
    endFreeUp(device, result);
}

void MainWindow::scanRemoveData()
{
    if (!hasCurrentDevice())
        return;
    FlowGuard guard(this);
    const FlowResult result = BackupCleanFlow(m_steps).scan(BackupPanel::unwantedData(), currentDevice());
    if (!renderEnding(result))
        return;
    for (const FlowItem& item : result.items)
        m_entries.value(item.id)->size = item.found;
    m_removeModel->announceLayoutChange();
    m_lbTotalRemoveData->setText(QStringLiteral("(%1)").arg(formatSize(result.found)));
    m_lbTotalRemoveData->setToolTip(result.notes.join(QLatin1Char('\n')));
    // Asked once per phone while the window is open; the total's tooltip keeps saying it.
    const QString udid = currentDevice().uniqueDeviceId;
    if (result.offersEncryption && !m_encryptionOffered.contains(udid)) {
        m_encryptionOffered.insert(udid);
        if (askYesNo(BackupCleanFlow::encryptedOnlyText() +
                     QStringLiteral("<br/><br/>Turn backup encryption on now?")))
            encryptBackups();
    }
}

void MainWindow::clearRemoveData()
{
    if (!hasCurrentDevice())
        return;
    const IOSDevice device = currentDevice();
    const BackupPanel& panel = BackupPanel::unwantedData();
    if (restoredPending(panel, device))
        return;
    const QStringList ticked = tickedEntries(panel);
    for (const PanelEntry& entry : panel.entries) {
        // Only the messages entry asks today; its question names the vendor's guide.
        if (entry.needsConfirmation && ticked.contains(entry.id) &&
            !askYesNo(tr("IDS_CONFIRM_CLEAR_ALL_MESSAGES").arg(Product::vendorBaseUrl())))
            return;
    }
    FlowGuard guard(this);
    statusBar()->showMessage(FlowSteps::findMyReminder());
    const FlowResult result = BackupCleanFlow(m_steps).freeUp(panel, device, ticked);
    endFreeUp(device, result);
}

bool MainWindow::restoredPending(const BackupPanel& panel, const IOSDevice& device)
{
    const QString question = BackupCleanFlow::pendingQuestion(panel, device);
    if (question.isEmpty())
        return false;
    if (!askYesNo(question)) {
        BackupCleanFlow::dropPending(device);
        return false;
    }
    FlowGuard guard(this);
    statusBar()->showMessage(FlowSteps::findMyReminder());
    endFreeUp(device, BackupCleanFlow(m_steps).restorePending(device));
    return true;
}

void MainWindow::endFreeUp(const IOSDevice& device, const FlowResult& result)
{
    statusBar()->clearMessage();
    // The step's own dialog showed why the restore did not happen (or it was cancelled), not what
    // became of the changes.
    if (result.changesKept && (result.reported || result.ending == FlowResult::Ending::Cancelled))
        statusBar()->showMessage(BackupCleanFlow::keptText());
    refreshStorageAfter(device, result);
    renderEnding(result);
}

void MainWindow::scanAppCache()
{
    if (!hasCurrentDevice())
        return;
    FlowGuard guard(this);
    const FlowResult result = AppCacheFlow(m_steps).scan(currentDevice(), appsOfModel(false));
    if (!renderEnding(result))
        return;
    for (_APPIconItemNode* node : m_appModel->entries()) {
        node->measurable = !result.refusedApps.contains(node->identifier);
        const FlowItem* item = result.item(node->identifier);
        node->size = item ? item->found : -1;
    }
    m_appModel->announceLayoutChange();
    m_lbTotalAppCache->setText(QStringLiteral("(%1)").arg(formatSize(result.found)));
}

void MainWindow::clearAppCache()
{
    if (!hasCurrentDevice())
        return;
    FlowGuard guard(this);
    const IOSDevice device = currentDevice();
    const FlowResult result = AppCacheFlow(m_steps).freeUp(device, appsOfModel(true));
    refreshStorageAfter(device, result);
    if (!renderEnding(result))
        return;
    // A phone restarting after the restore reloads its apps when it is back.
    if (result.restarts)
        return;
    showDeviceInfo(device);
    scanAppCache();
}

void MainWindow::miCheckUpdate()
{
    openExternal(VendorService::updatePageUrl());
}

void MainWindow::miHelp()
{
    openExternal(Product::vendorUrl(QStringLiteral("/spacewell/help.html")));
}

void MainWindow::miFeedback()
{
    openExternal(Product::vendorUrl(QStringLiteral("/support.html")));
}

void MainWindow::miAbout()
{
    AboutUsForm about(this);
    about.exec();
}

void MainWindow::miUndo()
{
    if (!hasCurrentDevice() || m_busy)
        return;
    const IOSDevice device = currentDevice();
    const QString question = UndoFlow::question(device);
    if (question.isEmpty()) {
        showInfoBox(QStringLiteral("There is no Free Up of %1 to undo.").arg(device.deviceName));
        return;
    }
    if (!askYesNo(question))
        return;
    FlowGuard guard(this);
    const FlowResult result = UndoFlow(m_steps).undo(device);
    refreshStorageAfter(device, result);
    renderEnding(result);
}

void MainWindow::miEncryptBackups()
{
    if (!hasCurrentDevice() || m_busy)
        return;
    FlowGuard guard(this);
    encryptBackups();
}

void MainWindow::encryptBackups()
{
    renderEnding(EncryptionFlow(m_steps).turnOn(currentDevice()));
}

void MainWindow::miDropUndo()
{
    if (!hasCurrentDevice() || m_busy)
        return;
    const IOSDevice device = currentDevice();
    const UndoStore::Info undo = UndoStore::of(device);
    if (!undo.present) {
        showInfoBox(QStringLiteral("There is no Free Up of %1 to undo.").arg(device.deviceName));
        return;
    }
    if (askYesNo(
            QStringLiteral("Drop the undo of the last Free Up of %1 (%2)? It frees %3 on this computer, and "
                           "that Free Up can no longer be undone.")
                .arg(device.deviceName, undo.items.join(QStringLiteral(", ")), formatSize(undo.diskBytes))))
        UndoStore::drop(device);
}

void MainWindow::miClearLogs()
{
    clearLogFiles();
}
