# The installed program and its Debian package (CPack): the five programs, the
# menu entry, the icon, the AppStream file, the manual pages, the udev rule that
# opens the known modems to the user at the machine and keeps ModemManager away
# from them, and the files Debian wants beside every package (copyright,
# changelog). Linux only: the Windows build is copied by hand (README, "Windows").
#
#   cmake --install build/release --prefix /usr/local     # as it is
#   (cd build/release && cpack)                           # the .deb, from the same build
include(GNUInstallDirs)

set(VELKA_APP_ID example.velka_sms.VelkaSMS)
set(_packaging ${PROJECT_SOURCE_DIR}/packaging)

set(_programs velka-sms-cli velka-pdu velka-reg velka-modemsim)
if(VELKA_GUI)
    list(PREPEND _programs velka-sms)
endif()
install(TARGETS ${_programs} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

if(VELKA_GUI)
    install(FILES ${_packaging}/${VELKA_APP_ID}.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
    install(FILES ${_packaging}/${VELKA_APP_ID}.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
    install(FILES ${PROJECT_SOURCE_DIR}/gui/pictures/velka.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps
        RENAME ${VELKA_APP_ID}.svg)
endif()

# udev reads /usr/lib/udev/rules.d (and /usr/local/lib/udev/rules.d); the number
# puts the rule before 73-seat-late.rules, which turns the uaccess tag into access.
install(FILES ${_packaging}/70-velka-sms.rules DESTINATION lib/udev/rules.d)

# Manual pages and the changelog go compressed, as Debian installs them; -n keeps
# the time stamp out, so that the package is the same from the same sources.
set(_compressed)
foreach(_program IN LISTS _programs)
    list(APPEND _compressed man/${_program}.1)
endforeach()
list(APPEND _compressed changelog)
set(_gzipped)
foreach(_file IN LISTS _compressed)
    set(_out ${CMAKE_CURRENT_BINARY_DIR}/packaging/${_file}.gz)
    get_filename_component(_out_dir ${_out} DIRECTORY)
    get_filename_component(_name ${_file} NAME)
    add_custom_command(OUTPUT ${_out}
        COMMAND ${CMAKE_COMMAND} -E make_directory ${_out_dir}
        COMMAND ${CMAKE_COMMAND} -E copy ${_packaging}/${_file} ${_out_dir}
        COMMAND gzip -9nf ${_out_dir}/${_name}
        DEPENDS ${_packaging}/${_file}
        COMMENT "Compressing ${_file}"
        VERBATIM)
    list(APPEND _gzipped ${_out})
endforeach()
add_custom_target(velka_packaging_files ALL DEPENDS ${_gzipped})
foreach(_program IN LISTS _programs)
    install(FILES ${CMAKE_CURRENT_BINARY_DIR}/packaging/man/${_program}.1.gz
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endforeach()
install(FILES ${_packaging}/copyright ${CMAKE_CURRENT_BINARY_DIR}/packaging/changelog.gz
    DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/velka-sms)

# The package. Its dependencies are what dpkg-shlibdeps finds the programs linked
# against (Qt, SQLite, the C++ runtime), and the SVG icon plug-in, which Qt loads
# without linking it.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME velka-sms)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Velka SMS developers")
set(CPACK_PACKAGE_CONTACT "Velka SMS developers <maintainers@velka-sms.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "SMS client for GSM modems")
# The long description; CPack puts the summary above it and indents its lines.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Velka SMS sends and receives text messages through a USB GSM modem.
It keeps a contact book sorted into groups, sends texts of up to 1024
characters to one or many recipients, and fetches the messages that arrive
into a local store.

The package holds the desktop client, the command-line client velka-sms-cli,
the PDU codec velka-pdu, the registry tool velka-reg and the virtual modem
velka-modemsim, and a udev rule that gives the user at the machine access to
the known modems and keeps ModemManager away from them.")
set(CPACK_DEBIAN_PACKAGE_SECTION comm)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://velka-sms.example")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
if(VELKA_GUI)
    set(CPACK_DEBIAN_PACKAGE_DEPENDS "libqt6svg6")
    set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-translations-l10n")
endif()
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${_packaging}/postinst)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_OUTPUT_FILE_PREFIX packages)
include(CPack)
