# What `cmake --install` puts where a Linux desktop expects it, and the Debian package around it.
include(GNUInstallDirs)

install(TARGETS vantry-cli vantry-server RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

# The man page, compressed as Debian ships man pages.
find_program(GZIP gzip REQUIRED)
set(man_gz ${PROJECT_BINARY_DIR}/man/vantry-cli.1.gz)
add_custom_command(OUTPUT ${man_gz}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/man
  COMMAND ${GZIP} -9n -c ${PROJECT_SOURCE_DIR}/docs/man/vantry-cli.1 > ${man_gz}
  DEPENDS ${PROJECT_SOURCE_DIR}/docs/man/vantry-cli.1)
add_custom_target(vantry_man ALL DEPENDS ${man_gz})
install(FILES ${man_gz} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

set(CPACK_PACKAGE_NAME vantry)
set(CPACK_PACKAGE_VENDOR "Vantry")
set(CPACK_PACKAGE_CONTACT "Vantry maintainers <maintainers@vantry.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Install links for iOS and Android app builds")
set(CPACK_PACKAGE_DESCRIPTION
    "Vantry turns an .ipa or .apk into a shareable install link: it stores the package in your own cloud storage or on a self-hosted vantry-server, writes the iOS install manifest, renders a QR code and registers the app with the Vantry backend. Ships the desktop application, vantry-cli and vantry-server.")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION devel)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Libraries come from dpkg-shlibdeps; these are what the programs load or run by name: Qt's
# platform, SVG and image plugins, aapt for inspection, xdg-utils for the browser and
# the vantry:// handler, and the freedesktop keychain and notification services where present.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins, libqt6svg6, qt6-image-formats-plugins, aapt, xdg-utils")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "gnome-keyring | kwalletmanager, dbus-user-session")
# The maintainer scripts refresh the MIME and desktop databases, so that .ipa and .apk files open
# with Vantry right after installing.
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${PROJECT_SOURCE_DIR}/resources/linux/debian/postinst ${PROJECT_SOURCE_DIR}/resources/linux/debian/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
