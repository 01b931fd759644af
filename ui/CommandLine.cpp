#include "CommandLine.h"

#include "Product.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <cstdio>

namespace {

const char environmentHelp[] =
    "\nEnvironment:\n"
    "  SPACEWELL_FRAMEWORK_DIR  Folder of the device framework to load (default: the real-device\n"
    "                           build installed beside the program).\n"
    "  SPACEWELL_SIM_ROOT       Folder of the simulated devices, for the simulated framework.\n"
    "  SPACEWELL_VENDOR_URL     Vendor web server (scheme, host and port) for update checks.\n"
    "  USBMUXD_SOCKET_ADDRESS   usbmuxd's socket, when it is not the usual one\n"
    "                           (UNIX:<path> or <host>:<port>).\n";

} // namespace

std::optional<int> answerCommandLine(int argc, char* argv[])
{
    QCoreApplication probe(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Vantelmoor Spacewell frees storage on an iPhone, iPad or iPod touch connected by USB."));
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    // Unknown options are Qt's own, for the application object that follows.
    parser.parse(QCoreApplication::arguments());
    if (parser.isSet(version)) {
        std::printf("%s %s\n", "spacewell", Product::versionText);
        return 0;
    }
    if (parser.isSet(help) || parser.isSet(QStringLiteral("help-all"))) {
        std::printf("%s%s", qPrintable(parser.helpText()), environmentHelp);
        return 0;
    }
    return std::nullopt;
}
