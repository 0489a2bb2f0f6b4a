# Installation: the tool, its man page, and a CMake package for Qt projects
# (find_package(resweaver) gives resweaver::resweaver and resweaver_update_qrc()).
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)
set(RESWEAVER_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/resweaver)
install(TARGETS resweaver EXPORT resweaverTargets RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
configure_file(man/resweaver.1 ${PROJECT_BINARY_DIR}/resweaver.1 @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/resweaver.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(EXPORT resweaverTargets NAMESPACE resweaver:: DESTINATION ${RESWEAVER_CMAKE_DIR})
configure_package_config_file(cmake/resweaverConfig.cmake.in
  ${PROJECT_BINARY_DIR}/resweaverConfig.cmake INSTALL_DESTINATION ${RESWEAVER_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/resweaverConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/resweaverConfig.cmake
  ${PROJECT_BINARY_DIR}/resweaverConfigVersion.cmake DESTINATION ${RESWEAVER_CMAKE_DIR})
install(FILES debian/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR})

# cpack -G DEB (run in the build folder) builds a Debian package of the above.
set(CPACK_PACKAGE_NAME resweaver)
set(CPACK_PACKAGE_VENDOR "resweaver developers")
set(RESWEAVER_MAINTAINER "resweaver developers <resweaver@localhost>" CACHE STRING
  "Maintainer of the Debian package")
set(CPACK_PACKAGE_CONTACT "${RESWEAVER_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "list a folder of generated HTML in a Qt resource collection file")
set(CPACK_PACKAGE_DESCRIPTION "resweaver keeps one prefix group of a Qt resource collection file\n(.qrc) in step with a folder of generated HTML, so that the whole folder is\ncompiled into a Qt application's resources. It comes with a CMake package\nfor Qt projects.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION devel)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_PRE_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/cmake/DebianStaging.cmake)
set(RESWEAVER_SOURCE_DIR ${PROJECT_SOURCE_DIR})
set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_BINARY_DIR}/CPackProjectConfig.cmake)
file(WRITE ${CPACK_PROJECT_CONFIG_FILE} "set(RESWEAVER_SOURCE_DIR \"${PROJECT_SOURCE_DIR}\")\n")
include(CPack)
