# The Windows ZIP (cpack -G ZIP, or `cpack --config CPackConfig.cmake`): the DLL,
# its import library, the static library, the public headers, the CMake package
# and the .pc file, in one tree with bin/, lib/ and include/.
set(CPACK_PACKAGE_NAME vizadavu)
set(CPACK_PACKAGE_VENDOR "vizADAVU")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_PACKAGE_FILE_NAME vizadavu-${PROJECT_VERSION}-windows-x86_64)
set(CPACK_GENERATOR ZIP)
set(CPACK_STRIP_FILES ON)
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
set(CPACK_ARCHIVE_COMPONENT_INSTALL OFF)
include(CPack)
