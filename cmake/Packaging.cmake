# Installation and the Debian package.
#
# The module goes where hosts look for Linux VST 2 modules: lib/lxvst under
# the prefix (/usr/lib/lxvst for the package, which most hosts search by
# default; ~/.lxvst and LXVST_PATH are the per-user alternatives). The
# command-line host goes into bin; it finds the module at ../lib/lxvst.
#
# The LV2 bundle tandrel.lv2 (the shared object tandrel_lv2.so and its Turtle
# files) goes where LV2 hosts look: lib/lv2 under the prefix (/usr/lib/lv2
# for the package; ~/.lv2 and LV2_PATH are the per-user alternatives).
#
#   cmake --install build --prefix /opt/tandrel   # or the default /usr/local
#   cpack --config build/CPackConfig.cmake -G DEB  # tandrel_<version>_<arch>.deb

set(TANDREL_INSTALL_MODULE_DIR "lib/lxvst" CACHE STRING "Where the module is installed, relative to the prefix")

install(TARGETS tandrel LIBRARY DESTINATION ${TANDREL_INSTALL_MODULE_DIR})
set(TANDREL_INSTALL_LV2_DIR "lib/lv2" CACHE STRING "Where the LV2 bundle is installed, relative to the prefix")
if(TARGET tandrel_lv2)
  install(TARGETS tandrel_lv2 LIBRARY DESTINATION ${TANDREL_INSTALL_LV2_DIR}/tandrel.lv2)
  install(FILES ${PROJECT_SOURCE_DIR}/lv2/manifest.ttl ${PROJECT_SOURCE_DIR}/lv2/tandrel.ttl
          DESTINATION ${TANDREL_INSTALL_LV2_DIR}/tandrel.lv2)
endif()
if(TARGET tandrel_tool)
  install(TARGETS tandrel_tool RUNTIME DESTINATION bin)
endif()

# What is installed resolves all its symbols when it is loaded and then makes
# its relocated data read-only, as Debian's hardened builds do.
if(CMAKE_SYSTEM_NAME STREQUAL "Linux")
  target_link_options(tandrel PRIVATE LINKER:-z,relro,-z,now)
  if(TARGET tandrel_lv2)
    target_link_options(tandrel_lv2 PRIVATE LINKER:-z,relro,-z,now)
  endif()
  if(TARGET tandrel_tool)
    target_link_options(tandrel_tool PRIVATE LINKER:-z,relro,-z,now)
  endif()
endif()

# The manual page of tandrel, made from its --help (and cmake/tandrel.h2m) by
# help2man when the tool is built (not in a sanitizer build, where running the
# tool may report the leaks of a process that ends early).
if(TARGET tandrel_tool)
  find_program(TANDREL_HELP2MAN help2man)
  if(TANDREL_HELP2MAN AND NOT CMAKE_CROSSCOMPILING AND NOT TANDREL_SANITIZE)
    set(manpage ${CMAKE_CURRENT_BINARY_DIR}/man/tandrel.1)
    add_custom_command(
      OUTPUT ${manpage}.gz
      COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_CURRENT_BINARY_DIR}/man
      COMMAND ${TANDREL_HELP2MAN} --no-info --version-string=${PROJECT_VERSION}
              --include=${CMAKE_CURRENT_LIST_DIR}/tandrel.h2m
              "--name=loads VST 2 effect modules and renders audio files through them"
              --output=${manpage} $<TARGET_FILE:tandrel_tool>
      COMMAND gzip -n -9 -f ${manpage}
      DEPENDS tandrel_tool ${CMAKE_CURRENT_LIST_DIR}/tandrel.h2m
      COMMENT "Making the manual page of tandrel"
      VERBATIM)
    add_custom_target(tandrel_manpage ALL DEPENDS ${manpage}.gz)
    install(FILES ${manpage}.gz DESTINATION share/man/man1)
  elseif(NOT TANDREL_HELP2MAN)
    message(WARNING "help2man not found (Debian package help2man): tandrel gets no manual page")
  endif()
endif()

# The Debian package's changelog and copyright file (cmake/debian/), which
# cmake/DebianPackage.cmake adds. The changelog's newest entry is this version.
file(STRINGS ${CMAKE_CURRENT_LIST_DIR}/debian/changelog changelog_top LIMIT_COUNT 1)
string(FIND "${changelog_top}" "tandrel (${PROJECT_VERSION}) " changelog_at)
if(NOT changelog_at EQUAL 0)
  message(FATAL_ERROR "cmake/debian/changelog: the newest entry is '${changelog_top}', "
                      "not version ${PROJECT_VERSION}: add an entry for it")
endif()

set(CPACK_PACKAGE_NAME "tandrel")
set(CPACK_PACKAGE_VENDOR "Mirvex")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Stereo ducking effect for VST 2 and LV2 hosts")
# Lines of at most 80 columns, as Debian asks.
set(CPACK_PACKAGE_DESCRIPTION
    "Tandrel turns one signal down while another one is loud: the music dips\n"
    "under the voice. The package holds the module tandrel.so in /usr/lib/lxvst,\n"
    "where Linux hosts look for VST 2 effects; the LV2 bundle tandrel.lv2 in\n"
    "/usr/lib/lv2, with Tandrel and Tandrel Sidechain (mono and stereo, the\n"
    "voice on a sidechain input); and the command-line host tandrel, which\n"
    "renders audio files through the module.")
string(JOIN "" CPACK_PACKAGE_DESCRIPTION ${CPACK_PACKAGE_DESCRIPTION})
set(CPACK_PACKAGING_INSTALL_PREFIX "/usr")
set(CPACK_GENERATOR "DEB")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Mirvex <packages@mirvex.invalid>")
set(CPACK_DEBIAN_PACKAGE_SECTION "sound")
set(CPACK_DEBIAN_PACKAGE_PRIORITY "optional")
# This script strips the package's binaries (the build's own keep their debug
# information), adds the changelog and the copyright file, and fills in the
# dependencies (dpkg-shlibdeps, from dpkg-dev); see there why CPack's own
# dependency search (CPACK_DEBIAN_PACKAGE_SHLIBDEPS) stays off.
set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/DebianPackage.cmake)
set(CPACK_TANDREL_DEBIAN_FILES ${CMAKE_CURRENT_LIST_DIR}/debian)
set(CPACK_TANDREL_STRIP ${CMAKE_STRIP})
include(CPack)
