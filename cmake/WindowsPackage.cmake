# SPDX-License-Identifier: MIT
# The Windows ZIP (`cpack -G ZIP` in the Windows build folder, or scripts/windows-build.sh):
# progstation-cli.exe, the example projects and a README for Windows users, in one folder
# the operator unpacks anywhere. The station finds its PROGRAMMER.INI and stage programs
# beside the .exe.
install(TARGETS progstation-cli RUNTIME DESTINATION .)
install(DIRECTORY ${CMAKE_SOURCE_DIR}/examples/ DESTINATION examples PATTERN "*.py" EXCLUDE)
install(FILES ${CMAKE_SOURCE_DIR}/packaging/windows/README.txt DESTINATION .)

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME progstation-cli)
set(CPACK_PACKAGE_VENDOR "ProgStation")
set(CPACK_SYSTEM_NAME windows-x86_64)
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
set(CPACK_STRIP_FILES ON)
include(CPack)
