# Installation and the Debian package.
#
# The module goes where hosts look for Linux VST 2 modules: lib/lxvst under
# the prefix (/usr/lib/lxvst for the package, which most hosts search by
# default; ~/.lxvst and LXVST_PATH are the per-user alternatives). The
# command-line host goes into bin; it finds the module at ../lib/lxvst.
#
#   cmake --install build --prefix /opt/tandrel   # or the default /usr/local
#   cpack --config build/CPackConfig.cmake -G DEB  # tandrel_<version>_<arch>.deb

set(TANDREL_INSTALL_MODULE_DIR "lib/lxvst" CACHE STRING "Where the module is installed, relative to the prefix")

install(TARGETS tandrel LIBRARY DESTINATION ${TANDREL_INSTALL_MODULE_DIR})
if(TARGET tandrel_tool)
  install(TARGETS tandrel_tool RUNTIME DESTINATION bin)
endif()

set(CPACK_PACKAGE_NAME "tandrel")
set(CPACK_PACKAGE_VENDOR "Mirvex")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Stereo ducking effect for VST 2 hosts")
set(CPACK_PACKAGE_DESCRIPTION
    "Tandrel turns one signal down while another one is loud: the music dips under the voice.\nThe package holds the module tandrel.so in /usr/lib/lxvst, where Linux hosts look for\nVST 2 effects, and the command-line host tandrel, which renders audio files through it.")
set(CPACK_PACKAGING_INSTALL_PREFIX "/usr")
set(CPACK_GENERATOR "DEB")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Mirvex <packages@mirvex.invalid>")
set(CPACK_DEBIAN_PACKAGE_SECTION "sound")
set(CPACK_DEBIAN_PACKAGE_PRIORITY "optional")
# Dependencies from the libraries the installed programs link (dpkg-shlibdeps,
# from dpkg-dev).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
include(CPack)
