# Run by cpack (CPACK_PRE_BUILD_SCRIPTS) once the files are installed into the
# package's staging folder and before the Debian package is made from it:
#   - strips the binaries: `strip --remove-section=.comment`, which leaves
#     only what loading and running them needs (the dynamic symbols);
#   - adds usr/share/doc/tandrel/copyright and changelog.gz (the Debian
#     format, compressed without a time stamp; the package is a native one,
#     made by the project itself, so the changelog is not changelog.Debian.gz);
#   - sets Depends from dpkg-shlibdeps run on the staged binaries. CPack can
#     do that itself (CPACK_DEBIAN_PACKAGE_SHLIBDEPS), but then it also adds
#     postinst and postrm scripts that run ldconfig for every shared object
#     below /usr/lib, the module in /usr/lib/lxvst included, although the
#     package holds no shared library for ldconfig to know.
if(NOT CPACK_GENERATOR STREQUAL "DEB")
  return()
endif()

set(staged "${CPACK_TEMPORARY_DIRECTORY}")
set(doc "${staged}${CPACK_PACKAGING_INSTALL_PREFIX}/share/doc/${CPACK_PACKAGE_NAME}")
file(MAKE_DIRECTORY "${doc}")
file(COPY "${CPACK_TANDREL_DEBIAN_FILES}/copyright" DESTINATION "${doc}"
     FILE_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
execute_process(COMMAND gzip -n -9 -c "${CPACK_TANDREL_DEBIAN_FILES}/changelog"
                OUTPUT_FILE "${doc}/changelog.gz" RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "gzip of the changelog failed: ${status}")
endif()
file(CHMOD "${doc}/changelog.gz" FILE_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)

# The ELF files among the staged ones.
file(GLOB_RECURSE staged_files LIST_DIRECTORIES false "${staged}/*")
set(binaries "")
foreach(file IN LISTS staged_files)
  file(READ "${file}" magic LIMIT 4 HEX)
  if(magic STREQUAL "7f454c46")
    list(APPEND binaries "${file}")
  endif()
endforeach()

foreach(file IN LISTS binaries)
  execute_process(COMMAND ${CPACK_TANDREL_STRIP} --remove-section=.comment "${file}" RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "strip failed on ${file}")
  endif()
endforeach()

find_program(TANDREL_DPKG_SHLIBDEPS dpkg-shlibdeps)
if(NOT TANDREL_DPKG_SHLIBDEPS)
  message(FATAL_ERROR "the Debian package needs dpkg-shlibdeps to find its dependencies: install dpkg-dev")
endif()
# dpkg-shlibdeps runs in a folder with a debian/control, as in a source package.
set(scratch "${CPACK_TOPLEVEL_DIRECTORY}/shlibdeps")
file(MAKE_DIRECTORY "${scratch}/debian")
file(WRITE "${scratch}/debian/control" "")
execute_process(COMMAND ${TANDREL_DPKG_SHLIBDEPS} --ignore-missing-info -O ${binaries}
                WORKING_DIRECTORY "${scratch}"
                OUTPUT_VARIABLE shlibdeps
                ERROR_VARIABLE shlibdeps_errors
                RESULT_VARIABLE status
                OUTPUT_STRIP_TRAILING_WHITESPACE)
if(NOT status EQUAL 0 OR NOT shlibdeps MATCHES "shlibs:Depends=([^\n]+)")
  message(FATAL_ERROR "dpkg-shlibdeps failed (${status}): ${shlibdeps_errors}")
endif()
set(CPACK_DEBIAN_PACKAGE_DEPENDS "${CMAKE_MATCH_1}")
message(STATUS "Depends: ${CPACK_DEBIAN_PACKAGE_DEPENDS}")
