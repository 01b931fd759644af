# The Debian package (cpack -G DEB in the build folder): the program, both framework builds with
# their backup tools and the desktop files, installed under /usr. Depends comes from the shared
# libraries of what it installs, plus the daemon that reaches phones and the backup program that
# the real-device backup tool runs.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vantelmoor-spacewell)
set(CPACK_PACKAGE_VENDOR Vantelmoor)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Vantelmoor <${SPACEWELL_SUPPORT_EMAIL}>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "free up storage on an iPhone, iPad or iPod touch")
set(CPACK_PACKAGE_DESCRIPTION
    "Vantelmoor Spacewell lists the devices connected by USB, shows each one's storage use and
frees space: it removes system caches, temporary files and orphaned message attachments,
deletes the messages, Safari history and call history you choose, and empties the caches
inside your apps.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE ${SPACEWELL_VENDOR_URL_DEFAULT})
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "usbmuxd, libimobiledevice-utils")
# A native window on Wayland desktops; without it Qt uses XWayland.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-wayland")
set(CPACK_STRIP_FILES ON)
include(CPack)
