<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en_US">
<context>
    <name>QObject</name>
    <message>
        <source>IDS_NONE_INSTALL_ITUNES</source>
        <translation>Failed to load (Apple Mobile Device) framework. Plese click &lt;a href="%1/tutorial/how-to-connect-ios-device-to-vantelmoor-successfully.html"&gt;HERE&lt;/a&gt; for help.</translation>
    </message>
</context>
<context>
    <name>MainWindow</name>
    <message>
        <source>IDS_CONFIRM_CLEAR_ALL_MESSAGES</source>
        <translation>Confirm to delete all messages &amp;amp; attached files from device?&lt;br/&gt;&lt;br/&gt;Note: To backup messages &amp;amp; attached files onto computer first before deleting, please refer to &lt;a href="%1/tutorial/transfer-sms-mms-imessage-from-iphone-to-computer.html"&gt;&lt;b&gt;HERE&lt;/b&gt;&lt;/a&gt;.</translation>
    </message>
</context>
<context>
    <name>BackupCleanFlow</name>
    <message>
        <source>IDS_FOUND_%1_DATA_SUC_CLEAR_%2</source>
        <translation>Successfully deleted %2 data.(Total:%1).</translation>
    </message>
    <message>
        <source>IDS_FOUND_%1_SYCCACHE_SUC_CLEAR_%2</source>
        <translation>Successfully deleted %2 system cache (Total: %1).</translation>
    </message>
</context>
<context>
    <name>IOSClearSysThread</name>
    <message>
        <source>IDS_SCANING_SYS_CACHE</source>
        <translation>Scanning...</translation>
    </message>
    <message>
        <source>IDS_CLEARING_SYS_CACHE</source>
        <translation>Deleting system cache...</translation>
    </message>
</context>
<context>
    <name>IOSClearMMSAttaThread</name>
    <message>
        <source>IDS_SCANING_MMS_ATTA</source>
        <translation>Scanning...</translation>
    </message>
    <message>
        <source>IDS_CLEARING_MMS_ATTA</source>
        <translation>Deleting system junk...</translation>
    </message>
</context>
<context>
    <name>IOSClearAllMessagesThread</name>
    <message>
        <source>IDS_SCANING_MESSAGES</source>
        <translation>Scanning...</translation>
    </message>
    <message>
        <source>IDS_CLEARING_MESSAGES</source>
        <translation>Deleting messages...</translation>
    </message>
</context>
<context>
    <name>IOSClearSafariThread</name>
    <message>
        <source>IDS_SCANING_SAFARI</source>
        <translation>Scanning...</translation>
    </message>
    <message>
        <source>IDS_CLEARING_SAFARI_CACHE</source>
        <translation>Deleting Safari cache...</translation>
    </message>
</context>
<context>
    <name>IOSClearCallsThread</name>
    <message>
        <source>IDS_SCANING_CALLS</source>
        <translation>Scanning...</translation>
    </message>
    <message>
        <source>IDS_CLEARING_CALLS</source>
        <translation>Deleting Call Log...</translation>
    </message>
</context>
<context>
    <name>BackupEditThread</name>
    <message>
        <source>IDS_SAVING_BACKUP</source>
        <translation>Saving the edited backup...</translation>
    </message>
</context>
<context>
    <name>IOSLoadAppThread</name>
    <message>
        <source>IDS_LOADING_IOS_APP_INFO</source>
        <translation>Loading Apps info from your device...</translation>
    </message>
</context>
<context>
    <name>IOSClearAppCacheThread</name>
    <message>
        <source>IDS_SCAN_IOS_APP_CACHE</source>
        <translation>Scanning Apps...</translation>
    </message>
    <message>
        <source>IDS_SCANING_%1</source>
        <translation>Scanning %1...</translation>
    </message>
    <message>
        <source>IDS_CLEAR_IOS_APP_CACHE</source>
        <translation>Deleting App cache...</translation>
    </message>
    <message>
        <source>IDS_CLEARING_%1</source>
        <translation>Deleting %1 cache...</translation>
    </message>
    <message>
        <source>IDS_FOUND_%1_APPCACHE_SUC_CLEAR_%2</source>
        <translation>Successfully deleted %2 App cache (Total: %1).</translation>
    </message>
</context>
<context>
    <name>AboutUsForm</name>
    <message>
        <source>About</source>
        <translation>About</translation>
    </message>
</context>
</TS>
