# Debian packages of this tree, one per install component:
#   cpack -G DEB        (from a build configured with BUILD_SHARED_LIBS=ON and
#                        CMAKE_INSTALL_PREFIX=/usr; .ci/package does it all)
#
#   libvizadavu0             lib      the shared library
#   libvizadavu-dev          dev      headers, CMake package, vizadavu.pc, the .so link
#   vizadavu                 cli      the command-line program (and its manual page)
#   libvizadavu-qt0          qt_lib   the Qt Widgets control
#   libvizadavu-qt-dev       qt_dev   its headers and the CMake component "qt"
#   vizadavu-form            form     the desktop program, .desktop entry and icons
#   libvizadavu-qt-designer  designer the Qt Designer / QUiLoader plugin
#
# The plugin has a package of its own: a program that builds its window from a
# .ui file with QUiLoader needs it at run time, without headers or CMake files.
# Included from the top-level CMakeLists.txt only when this is the top-level project.

if(NOT BUILD_SHARED_LIBS OR NOT CMAKE_INSTALL_PREFIX STREQUAL "/usr")
  message(STATUS "vizadavu: cpack -G DEB wants -DBUILD_SHARED_LIBS=ON -DCMAKE_INSTALL_PREFIX=/usr")
endif()

set(VIZADAVU_PACKAGE_MAINTAINER
    "vizADAVU maintainers <maintainers@users.noreply.c-seed-58c4b449.example>"
    CACHE STRING "Maintainer field of the Debian packages")

set(CPACK_PACKAGE_NAME vizadavu)
set(CPACK_PACKAGE_VENDOR "vizADAVU")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
# Each package's synopsis is the first line of its own description, below.
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "")
set(CPACK_PACKAGE_CONTACT "${VIZADAVU_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGING_INSTALL_PREFIX "${CMAKE_INSTALL_PREFIX}")
set(CPACK_STRIP_FILES ON)
set(CPACK_GENERATOR DEB)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The packages' own libraries are found in the build tree; the dependencies on
# them come from the component dependencies below, with the exact version.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${PROJECT_BINARY_DIR} ${PROJECT_BINARY_DIR}/qt)
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY "=")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# The library packages refresh the linker cache through dpkg's ldconfig trigger.
file(WRITE ${PROJECT_BINARY_DIR}/debian/triggers "activate-noawait ldconfig\n")

include(CPackComponent)

# Debian's per-package documents: the copyright notice and the changelog.
# EXCLUDE_FROM_ALL keeps them out of a plain `cmake --install`.
# string(TIMESTAMP) honours SOURCE_DATE_EPOCH, for reproducible packages.
string(TIMESTAMP VIZADAVU_CHANGELOG_DATE "%a, %d %b %Y 00:00:00 +0000" UTC)
configure_file(${CMAKE_CURRENT_LIST_DIR}/debian/changelog.in
               ${PROJECT_BINARY_DIR}/debian/changelog @ONLY)
execute_process(COMMAND gzip -9nf ${PROJECT_BINARY_DIR}/debian/changelog
                RESULT_VARIABLE gzip_result)
if(NOT gzip_result EQUAL 0)
  message(FATAL_ERROR "vizadavu: gzip failed on the package changelog")
endif()

# vizadavu_package(component package-name section "synopsis" "description"
#                  [DEPENDS component...] [DEBIAN_DEPENDS pkg...] [SUGGESTS pkg...])
# A macro: cpack_add_component sets variables in the caller's scope.
macro(vizadavu_package component package section synopsis description)
  cmake_parse_arguments(arg "" "" "DEPENDS;DEBIAN_DEPENDS;SUGGESTS" ${ARGN})
  string(TOUPPER ${component} upper)
  cpack_add_component(${component} DISPLAY_NAME ${package} DEPENDS ${arg_DEPENDS})
  set(CPACK_DEBIAN_${upper}_PACKAGE_NAME ${package})
  set(CPACK_DEBIAN_${upper}_PACKAGE_SECTION ${section})
  set(CPACK_DEBIAN_${upper}_DESCRIPTION "${synopsis}\n${description}")
  if(arg_DEBIAN_DEPENDS)
    list(JOIN arg_DEBIAN_DEPENDS ", " CPACK_DEBIAN_${upper}_PACKAGE_DEPENDS)
  endif()
  if("${section}" STREQUAL "libs" AND NOT "${component}" STREQUAL "designer")
    set(CPACK_DEBIAN_${upper}_PACKAGE_CONTROL_EXTRA ${PROJECT_BINARY_DIR}/debian/triggers)
  endif()
  if(arg_SUGGESTS)
    list(JOIN arg_SUGGESTS ", " CPACK_DEBIAN_${upper}_PACKAGE_SUGGESTS)
  endif()
  install(FILES ${CMAKE_CURRENT_LIST_DIR}/debian/copyright ${PROJECT_BINARY_DIR}/debian/changelog.gz
          DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${package}
          COMPONENT ${component} EXCLUDE_FROM_ALL)
endmacro()

set(about "vizADAVU is an embeddable, synchronous HTTP form-submission control: a
host fills a table of form fields, sets a URL and runs the whole exchange (GET
or POST over libcurl with OpenSSL) in one call, with Status, EndTransfer and
Error events and the reply kept in memory until it is wiped.")

vizadavu_package(lib libvizadavu0 libs "synchronous HTTP form-submission control - library"
  "${about}\n\nThis package contains the shared library.")
vizadavu_package(dev libvizadavu-dev libdevel
  "synchronous HTTP form-submission control - development files"
  "${about}\n\nThis package contains the C++ headers, the CMake package
(find_package(vizadavu)) and the pkg-config file needed to build programs that
use the library."
  DEPENDS lib DEBIAN_DEPENDS "libcurl4-openssl-dev | libcurl-dev" "libssl-dev")
vizadavu_package(cli vizadavu net "submit HTTP forms from the command line"
  "${about}\n\nThis package contains the vizadavu program, which submits NAME=VALUE fields
to a URL with the control and prints the reply and the control's events."
  DEPENDS lib)

if(TARGET vizadavu_qt)
  set(CPACK_COMPONENTS_ALL lib dev cli qt_lib qt_dev form)
  vizadavu_package(qt_lib libvizadavu-qt0 libs
    "synchronous HTTP form-submission control - Qt Widgets library"
    "${about}\n\nThis package contains vizadavu::qt::FormControl, the control as a Qt 6
widget with its own face, its members as properties and its events as signals."
    DEPENDS lib)
  vizadavu_package(qt_dev libvizadavu-qt-dev libdevel
    "synchronous HTTP form-submission control - Qt development files"
    "${about}\n\nThis package contains the headers of the Qt Widgets control and the CMake
component find_package(vizadavu COMPONENTS qt)."
    DEPENDS qt_lib dev DEBIAN_DEPENDS "qt6-base-dev"
    SUGGESTS "libvizadavu-qt-designer")
  vizadavu_package(form vizadavu-form net "desktop program that submits a web form"
    "${about}\n\nThis package contains vizadavu-form, a Qt desktop form: URL, a table
of fields, GET or POST, the reply as text and bytes, and every event of the
control."
    DEPENDS qt_lib lib)
  if(TARGET vizadavu_designer)
    list(APPEND CPACK_COMPONENTS_ALL designer)
    vizadavu_package(designer libvizadavu-qt-designer libs
      "synchronous HTTP form-submission control - Qt Designer plugin"
      "${about}\n\nThis package contains the Qt Designer plugin that puts the control in
Designer's widget box (group vizADAVU) and lets QUiLoader create it from .ui
files at run time, and an example form."
      DEPENDS qt_lib SUGGESTS "designer-qt6")
  endif()
else()
  set(CPACK_COMPONENTS_ALL lib dev cli)
endif()

include(CPack)
