# Installation: the tool, its man page, and a CMake package for Qt projects
# (find_package(resweaver) gives resweaver::resweaver, resweaver_add_resources() and
# resweaver_update_qrc()), and a qmake feature for Qt 5 and Qt 6 (load(resweaver)).
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

# qmake's feature goes where Qt 5's and Qt 6's qmake look for features, relative to the prefix
# that Qt itself is installed in (lib/x86_64-linux-gnu/qt5/mkspecs/features and
# lib/x86_64-linux-gnu/qt6/mkspecs/features on Debian), so that a package installed in /usr puts
# it in qmake's own folders; under another prefix, QMAKEFEATURES or QMAKEPATH points qmake to it.
# Each qmake is asked for its QT_HOST_DATA; one that is not found gets the usual folder below
# CMAKE_INSTALL_LIBDIR.
set(RESWEAVER_QMAKE_FEATURES_DIRS "" CACHE STRING
  "Where resweaver.prf is installed, relative to the prefix (default: from Qt 5's and 6's qmake)")
set(qmake_features_dirs "${RESWEAVER_QMAKE_FEATURES_DIRS}")
if(NOT qmake_features_dirs)
  foreach(major 5 6)
    set(features_dir ${CMAKE_INSTALL_LIBDIR}/qt${major}/mkspecs/features)
    find_program(RESWEAVER_QMAKE${major} NAMES qmake${major} qmake-qt${major} qmake
      HINTS /usr/lib/qt${major}/bin DOC "Qt ${major}'s qmake, asked where its features are")
    if(RESWEAVER_QMAKE${major})
      foreach(property QT_VERSION QT_INSTALL_PREFIX QT_HOST_DATA)
        execute_process(COMMAND ${RESWEAVER_QMAKE${major}} -query ${property}
          OUTPUT_VARIABLE ${property} ERROR_QUIET OUTPUT_STRIP_TRAILING_WHITESPACE)
      endforeach()
      if(QT_VERSION MATCHES "^${major}\\." AND IS_ABSOLUTE "${QT_INSTALL_PREFIX}" AND
         IS_ABSOLUTE "${QT_HOST_DATA}")
        file(RELATIVE_PATH data "${QT_INSTALL_PREFIX}" "${QT_HOST_DATA}")
        if(NOT data MATCHES "^\\.\\.")
          set(features_dir ${data}/mkspecs/features)
        endif()
      endif()
    endif()
    list(APPEND qmake_features_dirs ${features_dir})
  endforeach()
endif()
foreach(features_dir IN LISTS qmake_features_dirs)
  install(FILES cmake/resweaver.prf DESTINATION ${features_dir})
endforeach()

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
