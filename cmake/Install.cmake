# What `cmake --install` puts where, and the Debian package made from it by `cpack -G DEB`.

set(TOLVEX_APP_ID org.kestrane.Tolvex)
set(TOLVEX_DATA ${CMAKE_SOURCE_DIR}/data)

# The project's version (CMakeLists.txt) goes into the manual page's header, the release of the
# metainfo and the changelog; the package takes it from the same place.
set(TOLVEX_GENERATED ${CMAKE_BINARY_DIR}/data)
foreach(file tolvex.1 changelog ${TOLVEX_APP_ID}.metainfo.xml)
    configure_file(${TOLVEX_DATA}/${file} ${TOLVEX_GENERATED}/${file} @ONLY)
endforeach()
# The manual page and the changelog are installed compressed as Debian's are: at the highest
# level, without name and time stamp (the same bytes at every build).
find_program(TOLVEX_GZIP gzip REQUIRED)
foreach(file tolvex.1 changelog)
    add_custom_command(OUTPUT ${TOLVEX_GENERATED}/${file}.gz
                       COMMAND ${TOLVEX_GZIP} -9nkf ${TOLVEX_GENERATED}/${file}
                       DEPENDS ${TOLVEX_GENERATED}/${file})
endforeach()
add_custom_target(tolvex_docs ALL
                  DEPENDS ${TOLVEX_GENERATED}/tolvex.1.gz ${TOLVEX_GENERATED}/changelog.gz)
add_dependencies(tolvex tolvex_docs)

install(TARGETS tolvex RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${TOLVEX_DATA}/${TOLVEX_APP_ID}.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${TOLVEX_GENERATED}/${TOLVEX_APP_ID}.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
foreach(size 16 22 24 32 48 64 128 256)
    install(FILES ${TOLVEX_DATA}/icons/hicolor/${size}x${size}/tolvex.png
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
endforeach()
install(FILES ${TOLVEX_DATA}/icons/tolvex.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(FILES ${TOLVEX_GENERATED}/tolvex.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${TOLVEX_DATA}/help/index.html DESTINATION ${CMAKE_INSTALL_DATADIR}/tolvex/help)
install(FILES ${CMAKE_SOURCE_DIR}/README.md ${TOLVEX_DATA}/copyright
              ${TOLVEX_GENERATED}/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/tolvex)

# The firewall profile belongs in /etc/ufw/applications.d for a system install (the package's
# /usr prefix); any other prefix keeps it under its own etc/ so that nothing leaves the prefix.
install(CODE "
    if(CMAKE_INSTALL_PREFIX STREQUAL \"/usr\")
        set(tolvex_ufw_dir /etc/ufw/applications.d)
    else()
        set(tolvex_ufw_dir \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_SYSCONFDIR}/ufw/applications.d\")
    endif()
    file(INSTALL DESTINATION \"\${tolvex_ufw_dir}\" TYPE FILE
         FILES \"${TOLVEX_DATA}/ufw/tolvex\")
")

set(CPACK_PACKAGE_NAME tolvex)
set(CPACK_PACKAGE_VENDOR Kestrane)
set(CPACK_PACKAGE_CONTACT "Tolvex maintainers <tolvex@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "send files and chat between two computers without a server")
set(CPACK_PACKAGE_DESCRIPTION
    "Tolvex hands a file or a few lines of typed chat from one computer to\n\
another on the same network, with no server in between. Each running copy\n\
listens on TCP 8510 and 8511 (files) and 9170 (chat). The user interface is\n\
in Simplified Chinese.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_INSTALL_PREFIX /usr)
# Installs with DESTDIR and the real prefix, so that the firewall profile lands in /etc.
set(CPACK_SET_DESTDIR ON)
# The package's program without its debugging symbols, as Debian's are.
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Qt's platform plugins are loaded at run time, so shlibdeps cannot see them.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
# Chinese texts of Qt's own dialogs, Chinese names of file types, fonts for the texts, and the
# service discovery daemon through which copies also find each other.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS
    "qt6-translations-l10n, shared-mime-info, fonts-noto-cjk, avahi-daemon")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "ufw")
file(WRITE ${CMAKE_BINARY_DIR}/debian/conffiles "/etc/ufw/applications.d/tolvex\n")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${CMAKE_BINARY_DIR}/debian/conffiles)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
