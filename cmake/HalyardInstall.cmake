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

# Every docs/<name>.1.in is a man page, installed compressed as Debian wants it; the package's
# copyright and changelog go to share/doc/halyard. gzip -n leaves out the name and time, so the
# same sources give the same bytes.
file(GLOB _man_pages CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/docs/*.1.in)
set(_compressed)
foreach(_page IN LISTS _man_pages)
  get_filename_component(_name ${_page} NAME_WLE) # halyard.1
  configure_file(${_page} ${PROJECT_BINARY_DIR}/man/${_name} @ONLY)
  list(APPEND _compressed ${PROJECT_BINARY_DIR}/man/${_name}.gz)
endforeach()
set(_changelog ${PROJECT_BINARY_DIR}/doc/changelog.gz)
foreach(_out IN LISTS _compressed _changelog)
  get_filename_component(_dir ${_out} DIRECTORY)
  get_filename_component(_base ${_out} NAME_WLE)
  set(_in ${_dir}/${_base})
  if(_out STREQUAL _changelog)
    set(_in ${PROJECT_SOURCE_DIR}/packaging/debian/changelog)
  endif()
  add_custom_command(OUTPUT ${_out} COMMAND sh -c "gzip -9nc \"$1\" > \"$2\"" sh ${_in} ${_out}
                     DEPENDS ${_in} VERBATIM)
endforeach()
add_custom_target(halyard_docs ALL DEPENDS ${_compressed} ${_changelog})
install(FILES ${_compressed} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/debian/copyright ${_changelog}
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/halyard)

# `cpack` in a build folder makes halyard_<version>_amd64.deb (scripts/build-deb.sh).
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME halyard)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "checks signed Windows driver packages")
# Lines of the long description stay within 80 columns.
set(CPACK_PACKAGE_DESCRIPTION
    "Halyard checks a signed Windows driver package (.7z), an INF folder or a
catalog the way a release pipeline needs: every driver file a signed member of
the catalog, the recorded figures, the declared operating systems. It prints
result lines and a verdict line.")
set(CPACK_PACKAGE_CONTACT
    "Halyard maintainers <maintainers@users.noreply.c-seed-142ad121.example>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT) # halyard_<version>_<arch>.deb
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# OpenSSL's libcrypto is linked; the 7-Zip library (/usr/lib/p7zip/7z.so) is loaded at run time.
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "libc6 (>= 2.34), libstdc++6 (>= 12), libgcc-s1, libssl3 (>= 3.0.0), p7zip-full")
include(CPack)
