# The Debian package (scripts/package.sh): the loader, the image packing tool, a desktop entry with
# its icon, and the udev rule that lets the group plugdev open the devices. The simulator, its
# stand-in driver libraries and the tests have no install rules and never get into it.
include(GNUInstallDirs)

install(TARGETS GXFWLoader gxfwpack RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${CMAKE_CURRENT_LIST_DIR}/gxfwloader.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/gxfwloader.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/70-gxfwloader.rules DESTINATION lib/udev/rules.d)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME gxfwloader)
set(CPACK_PACKAGE_VENDOR Geotrovix)
set(CPACK_PACKAGE_CONTACT "Geotrovix firmware loader developers <loader@geotrovix.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Firmware loader for Geotrovix devices on USB")
set(CPACK_PACKAGE_DESCRIPTION
    "Finds the Geotrovix devices attached over USB, shows their serial numbers, versions, \
processor identifiers and modes, and writes a firmware image into every device in its \
bootloader, several at once. Needs the FTDI D2XX library or the maker's USB library.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
# The Qt libraries it links, found by dpkg-shlibdeps; a Helvetica-metric font stands in for the
# window's Tahoma, and DejaVu covers the Cyrillic texts.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-urw-base35, fonts-dejavu-core")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${CMAKE_CURRENT_LIST_DIR}/postinst)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
