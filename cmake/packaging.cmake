# Installation of the native build and its Debian package: qorpack, the Windows stub that qorpack
# puts at the front of every package, the man page, the README and copyright, the bash completion and
# the CMake package.
#
# The stub comes from the Windows build, which the native build cannot make. Configuring only
# records its path; the install step (and so cpack) needs the file, so the two builds can be
# configured and built in either order.
include(GNUInstallDirs)

set(QOR_STUB "${CMAKE_SOURCE_DIR}/build/windows/QorEngineUpdate.exe" CACHE FILEPATH
  "QorEngineUpdate.exe of the Windows build, installed as the packages' stub (needed by install and cpack)")

set(QOR_STUB_DIR "${CMAKE_INSTALL_DATADIR}/qorengineupdate")
# qorpack init names the stub beside the running qorpack, wherever its prefix ends up; these are the
# ways from qorpack's folder to the stub, installed and in a build tree, and the configured place.
file(RELATIVE_PATH stub_from_bin "${CMAKE_INSTALL_FULL_BINDIR}"
  "${CMAKE_INSTALL_FULL_DATADIR}/qorengineupdate/QorEngineUpdate.exe")
file(RELATIVE_PATH stub_from_build "${CMAKE_BINARY_DIR}/tools" "${QOR_STUB}")
target_compile_definitions(qorpack PRIVATE
  QOR_VERSION="${PROJECT_VERSION}"
  QOR_STUB_FROM_BIN="${stub_from_bin}"
  QOR_STUB_FROM_BUILD="${stub_from_build}"
  QOR_INSTALLED_STUB="${CMAKE_INSTALL_FULL_DATADIR}/qorengineupdate/QorEngineUpdate.exe")

# Debian wants man pages compressed; -n keeps the file's name and time out of it.
set(man_page ${CMAKE_BINARY_DIR}/qorpack.1.gz)
add_custom_command(OUTPUT ${man_page}
  COMMAND gzip -9n -c ${CMAKE_SOURCE_DIR}/docs/qorpack.1 > ${man_page}
  DEPENDS ${CMAKE_SOURCE_DIR}/docs/qorpack.1 VERBATIM)
add_custom_target(qorpack_man ALL DEPENDS ${man_page})

install(TARGETS qorpack RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(CODE "
  if(NOT EXISTS \"${QOR_STUB}\")
    message(FATAL_ERROR \"The stub ${QOR_STUB} is missing: build the windows preset first \"
      \"(cmake --preset windows && cmake --build build/windows), or configure with -DQOR_STUB=PATH.\")
  endif()")
install(FILES ${QOR_STUB} DESTINATION ${QOR_STUB_DIR})
# The schema of qorpack's --json outputs, for the scripts that read them.
install(FILES ${CMAKE_SOURCE_DIR}/tools/qorpack-json.schema.json DESTINATION ${QOR_STUB_DIR})
install(FILES ${man_page} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${CMAKE_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/qorengineupdate)
install(FILES ${CMAKE_SOURCE_DIR}/cmake/debian/copyright DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/qorengineupdate)
# Debian's changelog, compressed without name and time as the man page; the lintian overrides, each
# with its reason.
set(changelog ${CMAKE_BINARY_DIR}/changelog.gz)
add_custom_command(OUTPUT ${changelog}
  COMMAND gzip -9n -c ${CMAKE_SOURCE_DIR}/cmake/debian/changelog > ${changelog}
  DEPENDS ${CMAKE_SOURCE_DIR}/cmake/debian/changelog VERBATIM)
add_custom_target(qorpack_changelog ALL DEPENDS ${changelog})
install(FILES ${changelog} DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/qorengineupdate)
install(FILES ${CMAKE_SOURCE_DIR}/cmake/debian/lintian-overrides
  DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/lintian/overrides RENAME qorengineupdate)
install(FILES ${CMAKE_SOURCE_DIR}/tools/qorpack-completion.bash
  DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME qorpack)

# The CMake package: find_package(QorEngineUpdate CONFIG) from the prefix, wherever it was installed
# (its paths are relative to the config file). Under share/, as it names no library: a project that
# builds for another architecture (32-bit Windows) finds it as well, and the version file does not
# ask for a matching pointer size.
include(CMakePackageConfigHelpers)
set(config_dir ${CMAKE_INSTALL_DATADIR}/cmake/QorEngineUpdate)
set(QOR_CONFIG_QORPACK ${CMAKE_INSTALL_BINDIR}/qorpack)
set(QOR_CONFIG_STUB ${QOR_STUB_DIR}/QorEngineUpdate.exe)
configure_package_config_file(${CMAKE_SOURCE_DIR}/cmake/QorEngineUpdateConfig.cmake.in
  ${CMAKE_BINARY_DIR}/QorEngineUpdateConfig.cmake INSTALL_DESTINATION ${config_dir}
  PATH_VARS QOR_CONFIG_QORPACK QOR_CONFIG_STUB)
write_basic_package_version_file(${CMAKE_BINARY_DIR}/QorEngineUpdateConfigVersion.cmake
  COMPATIBILITY SameMajorVersion ARCH_INDEPENDENT)
install(FILES ${CMAKE_BINARY_DIR}/QorEngineUpdateConfig.cmake ${CMAKE_BINARY_DIR}/QorEngineUpdateConfigVersion.cmake
  DESTINATION ${config_dir})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME qorengineupdate)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
# A release sets its maintainer's real address here; lintian's override explains the default.
set(QOR_DEB_MAINTAINER "QorEngineUpdate maintainers <qorengineupdate@localhost>" CACHE STRING
  "The Maintainer field of the Debian package")
set(CPACK_PACKAGE_CONTACT "${QOR_DEB_MAINTAINER}")
# The first line is the synopsis; the rest becomes the extended description (lines of at most 79
# characters, as Debian's policy asks).
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "builds self-extracting Windows install packages
qorpack builds, lists, verifies and extracts QorEngineUpdate packages on
Linux: one Windows executable that holds the installer stub, a setup script
and the compressed payload files, and runs a finishing command once it has
unpacked them. This package also carries the stub, QorEngineUpdate.exe, that
qorpack puts at the front of every package it builds, a CMake package and
bash completion.")
set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE amd64)
set(CPACK_DEBIAN_PACKAGE_SECTION devel)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
include(CPack)
