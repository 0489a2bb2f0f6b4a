# Installation: the tool, its man page, and a CMake package for Qt projects
# (find_package(resweaver) gives resweaver::resweaver, resweaver_add_resources() and
# resweaver_update_qrc()), and a qmake feature (CONFIG += resweaver).
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
  ${PROJECT_BINARY_DIR}/resweaverConfigVersion.cmake cmake/resweaverBuildStep.cmake
  DESTINATION ${RESWEAVER_CMAKE_DIR})
install(FILES debian/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR})

# qmake's feature goes where Qt 5's qmake looks for features, relative to the prefix that Qt
# itself is installed in (lib/x86_64-linux-gnu/qt5/mkspecs/features on Debian), so that a package
# installed in /usr puts it in qmake's own folder; under another prefix, QMAKEFEATURES or
# QMAKEPATH points qmake to it.
set(RESWEAVER_QMAKE_FEATURES_DIR "" CACHE STRING
  "Where resweaver.prf is installed, relative to the prefix (default: from Qt 5's qmake)")
set(qmake_features_dir "${RESWEAVER_QMAKE_FEATURES_DIR}")
if(NOT qmake_features_dir)
  set(qmake_features_dir ${CMAKE_INSTALL_LIBDIR}/qt5/mkspecs/features)
  find_program(RESWEAVER_QMAKE NAMES qmake-qt5 qmake
    DOC "Qt 5's qmake, asked where qmake's features are installed")
  if(RESWEAVER_QMAKE)
    execute_process(COMMAND ${RESWEAVER_QMAKE} -query QT_VERSION OUTPUT_VARIABLE qt_version
      ERROR_QUIET OUTPUT_STRIP_TRAILING_WHITESPACE)
    execute_process(COMMAND ${RESWEAVER_QMAKE} -query QT_INSTALL_PREFIX OUTPUT_VARIABLE qt_prefix
      ERROR_QUIET OUTPUT_STRIP_TRAILING_WHITESPACE)
    execute_process(COMMAND ${RESWEAVER_QMAKE} -query QT_HOST_DATA OUTPUT_VARIABLE qt_data
      ERROR_QUIET OUTPUT_STRIP_TRAILING_WHITESPACE)
    if(qt_version MATCHES "^5\\." AND IS_ABSOLUTE "${qt_prefix}" AND IS_ABSOLUTE "${qt_data}")
      file(RELATIVE_PATH qt_data "${qt_prefix}" "${qt_data}")
      if(NOT qt_data MATCHES "^\\.\\.")
        set(qmake_features_dir ${qt_data}/mkspecs/features)
      endif()
    endif()
  endif()
endif()
install(FILES cmake/resweaver.prf DESTINATION ${qmake_features_dir})

# cpack -G DEB (run in the build folder) builds a Debian package of the above.
set(CPACK_PACKAGE_NAME resweaver)
set(CPACK_PACKAGE_VENDOR "resweaver developers")
set(RESWEAVER_MAINTAINER "resweaver developers <resweaver@localhost>" CACHE STRING
  "Maintainer of the Debian package")
set(CPACK_PACKAGE_CONTACT "${RESWEAVER_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "list a folder of generated HTML in a Qt resource collection file")
set(CPACK_PACKAGE_DESCRIPTION "resweaver keeps one prefix group of a Qt resource collection file\n(.qrc) in step with a folder of generated HTML, so that the whole folder is\ncompiled into a Qt application's resources. It comes with a CMake package\nand a qmake feature for Qt projects.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION devel)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_PRE_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/cmake/DebianStaging.cmake)
set(RESWEAVER_SOURCE_DIR ${PROJECT_SOURCE_DIR})
set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_BINARY_DIR}/CPackProjectConfig.cmake)
# A .deb takes the tool with libc shared, so that libc's security updates reach it (see
# cmake/Linking.cmake); CPack stops before packaging a fully static one.
file(WRITE ${CPACK_PROJECT_CONFIG_FILE} "set(RESWEAVER_SOURCE_DIR \"${PROJECT_SOURCE_DIR}\")
set(RESWEAVER_LINKED_LIBC_IN ${RESWEAVER_LINKED_LIBC_IN})
if(CPACK_GENERATOR STREQUAL \"DEB\" AND RESWEAVER_LINKED_LIBC_IN)
  message(FATAL_ERROR \"resweaver is linked with libc in, which a Debian package must not be: \"
    \"configure a build for the package with -DRESWEAVER_STATIC_LIBC=OFF\")
endif()
")
include(CPack)
