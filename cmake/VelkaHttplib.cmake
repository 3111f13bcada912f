# velka_httplib: Debian's cpp-httplib, the HTTP library of the gateway's server and
# the webhooks' client, one target for both builds. Linux links Debian's shared
# library through pkg-config; the Windows build links the static library that
# scripts/windows-deps.sh compiled from the same version's Debian source into
# VELKA_WINDOWS_DEPS, with Winsock under it.
if(TARGET velka_httplib)
    return()
endif()
add_library(velka_httplib INTERFACE)
if(WIN32)
    find_path(VELKA_HTTPLIB_INCLUDE_DIR httplib.h REQUIRED)
    find_library(VELKA_HTTPLIB_LIBRARY cpp-httplib REQUIRED)
    target_include_directories(velka_httplib SYSTEM INTERFACE ${VELKA_HTTPLIB_INCLUDE_DIR})
    target_link_libraries(velka_httplib INTERFACE ${VELKA_HTTPLIB_LIBRARY} ws2_32)
else()
    find_package(PkgConfig REQUIRED)
    pkg_check_modules(CPP_HTTPLIB REQUIRED IMPORTED_TARGET cpp-httplib>=0.11)
    target_link_libraries(velka_httplib INTERFACE PkgConfig::CPP_HTTPLIB)
endif()
