# The window program as a volunteer gets it, both built with the program (the `windows`
# preset puts them in the build folder):
#   PelorinWorker-Setup-<version>.exe     the installer (installer_win32.nsi, NSIS's makensis)
#   PelorinWorker-<version>-portable.zip  the program and a read-me, to run without installing

find_program(PELORIN_MAKENSIS makensis DOC "NSIS compiler for the Windows installer")
set(PELORIN_INSTALLER ${CMAKE_BINARY_DIR}/PelorinWorker-Setup-${PROJECT_VERSION}.exe)
set(PELORIN_PORTABLE_ZIP ${CMAKE_BINARY_DIR}/PelorinWorker-${PROJECT_VERSION}-portable.zip)

if(PELORIN_MAKENSIS)
  set(nsi ${CMAKE_CURRENT_SOURCE_DIR}/installer_win32.nsi)
  set(icon ${CMAKE_CURRENT_SOURCE_DIR}/pelorin_worker.ico)
  add_custom_command(OUTPUT ${PELORIN_INSTALLER}
    COMMAND ${PELORIN_MAKENSIS} -V2
      -DVERSION=${PROJECT_VERSION} -DPROGRAM=$<TARGET_FILE:PelorinWorker> -DICON=${icon}
      -DOUTFILE=${PELORIN_INSTALLER} "-DPRODUCT=${PELORIN_PRODUCT_NAME}" "-DPUBLISHER=${PELORIN_PUBLISHER}"
      ${nsi}
    DEPENDS PelorinWorker ${nsi} ${icon}
    COMMENT "Making the installer PelorinWorker-Setup-${PROJECT_VERSION}.exe"
    VERBATIM)
  add_custom_target(PelorinWorker-Setup ALL DEPENDS ${PELORIN_INSTALLER})
else()
  message(WARNING "makensis not found (Debian's nsis; scripts/setup.sh installs it): no Windows installer")
endif()

set(stage ${CMAKE_CURRENT_BINARY_DIR}/portable)
configure_file(portable_readme_win32.txt.in ${stage}/README.txt @ONLY NEWLINE_STYLE CRLF)
add_custom_command(OUTPUT ${PELORIN_PORTABLE_ZIP}
  COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:PelorinWorker> ${stage}/PelorinWorker.exe
  COMMAND ${CMAKE_COMMAND} -E rm -f ${PELORIN_PORTABLE_ZIP}
  COMMAND ${CMAKE_COMMAND} -E chdir ${stage}
    ${CMAKE_COMMAND} -E tar cf ${PELORIN_PORTABLE_ZIP} --format=zip PelorinWorker.exe README.txt
  DEPENDS PelorinWorker ${stage}/README.txt
  COMMENT "Making the portable zip PelorinWorker-${PROJECT_VERSION}-portable.zip"
  VERBATIM)
add_custom_target(PelorinWorker-Portable ALL DEPENDS ${PELORIN_PORTABLE_ZIP})

# For the tests of both (tests/app).
foreach(name PELORIN_INSTALLER PELORIN_PORTABLE_ZIP)
  set(${name} "${${name}}" PARENT_SCOPE)
endforeach()
