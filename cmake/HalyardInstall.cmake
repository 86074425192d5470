# The installed layout and the Debian package.
#
# POSIX: the programs a user runs go to bin/, the helpers halyard runs or loads (the SignTool
# stand-in, the Setup API library) to libexec/halyard/, the shipped roots to share/halyard/trust/
# and the man page to share/man/man1/. The programs find all of it relative to their own real
# location (src/platform/posix/os/install_layout.h), so the tree may be moved or unpacked anywhere.
# The roots an administrator adds live in /etc/halyard/trust (<prefix>/etc/halyard/trust for a
# prefix other than /usr); nothing is installed there.
#
# Windows: everything beside halyard.exe.
include(GNUInstallDirs)

if(WIN32)
  install(TARGETS halyard RUNTIME DESTINATION bin)
  return()
endif()

set(HALYARD_LIBEXEC_DIR ${CMAKE_INSTALL_LIBEXECDIR}/halyard)
install(TARGETS halyard catinspect RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(TARGETS signtool_standin RUNTIME DESTINATION ${HALYARD_LIBEXEC_DIR})
install(TARGETS setupapi LIBRARY DESTINATION ${HALYARD_LIBEXEC_DIR})
install(FILES ${HALYARD_SHIPPED_ROOTS} DESTINATION ${CMAKE_INSTALL_DATADIR}/halyard/trust)
configure_file(${PROJECT_SOURCE_DIR}/docs/halyard.1.in ${PROJECT_BINARY_DIR}/halyard.1 @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/halyard.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

# `cpack` in a build folder makes halyard_<version>_amd64.deb (scripts/build-deb.sh).
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME halyard)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "checks signed Windows driver packages")
set(CPACK_PACKAGE_DESCRIPTION
    "Halyard checks a signed Windows driver package (.7z), an INF folder or a catalog the way a \
release pipeline needs: every driver file a signed member of the catalog, the recorded figures, \
the declared operating systems. It prints result lines and a verdict line.")
set(CPACK_PACKAGE_CONTACT "Halyard maintainers <halyard@localhost>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT) # halyard_<version>_<arch>.deb
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# OpenSSL's libcrypto is linked; the 7-Zip library (/usr/lib/p7zip/7z.so) is loaded at run time.
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "libc6 (>= 2.34), libstdc++6 (>= 12), libgcc-s1, libssl3 (>= 3.0.0), p7zip-full")
include(CPack)
