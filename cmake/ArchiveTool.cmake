# 7zr.exe, 7-Zip's console extractor for .7z, ships in the install layout.
# scripts/bootstrap builds it once from Debian's 7zip source with the mingw
# toolchain; the build only copies it.
set(VANTOREL_7ZR "/usr/local/lib/vantorel/7zr.exe" CACHE FILEPATH
    "The 7zr.exe placed in the install layout")
if(NOT EXISTS "${VANTOREL_7ZR}")
  message(FATAL_ERROR "7zr.exe not found at ${VANTOREL_7ZR}: run scripts/bootstrap "
                      "(as root), or set VANTOREL_7ZR to a built 7zr.exe")
endif()

set(_vantorel_7zr_out "${CMAKE_BINARY_DIR}/install/7zr.exe")
add_custom_command(OUTPUT "${_vantorel_7zr_out}"
  COMMAND "${CMAKE_COMMAND}" -E make_directory "${CMAKE_BINARY_DIR}/install"
  COMMAND "${CMAKE_COMMAND}" -E copy "${VANTOREL_7ZR}" "${_vantorel_7zr_out}"
  DEPENDS "${VANTOREL_7ZR}"
  COMMENT "Placing 7zr.exe in the install layout"
  VERBATIM)
add_custom_target(vantorel_7zr ALL DEPENDS "${_vantorel_7zr_out}")
