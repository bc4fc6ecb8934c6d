# Release signing of the binaries we ship. Unsigned unless both are set:
#   VANTOREL_SIGN_CERT  PEM file: the signing certificate followed by its chain
#   VANTOREL_SIGN_KEY   PEM file: its private key
# Sets VANTOREL_SIGNING (ON/OFF) and VANTOREL_OSSLSIGNCODE.
#
# As a script it signs one PE file in place (SHA-256, chain included), so
# makensis's !finalize and !uninstfinalize can call it too:
#   cmake -DVANTOREL_SIGN_CERT=C -DVANTOREL_SIGN_KEY=K -DVANTOREL_OSSLSIGNCODE=O -P Signing.cmake FILE
if(CMAKE_SCRIPT_MODE_FILE)
  math(EXPR _last "${CMAKE_ARGC} - 1")
  set(_file "${CMAKE_ARGV${_last}}")
  execute_process(
    COMMAND "${VANTOREL_OSSLSIGNCODE}" sign -certs "${VANTOREL_SIGN_CERT}" -key "${VANTOREL_SIGN_KEY}"
            -h sha256 -n Vantorel -in "${_file}" -out "${_file}.signed"
    RESULT_VARIABLE _rc OUTPUT_VARIABLE _out ERROR_VARIABLE _out)
  if(NOT _rc EQUAL 0)
    file(REMOVE "${_file}.signed")
    message(FATAL_ERROR "signing ${_file} failed: ${_out}")
  endif()
  file(RENAME "${_file}.signed" "${_file}")
  return()
endif()

set(VANTOREL_SIGN_CERT "" CACHE FILEPATH "PEM certificate chain to sign the shipped binaries with")
set(VANTOREL_SIGN_KEY "" CACHE FILEPATH "PEM private key of VANTOREL_SIGN_CERT")
set(VANTOREL_SIGNING OFF)
if(VANTOREL_SIGN_CERT OR VANTOREL_SIGN_KEY)
  if(NOT VANTOREL_SIGN_CERT OR NOT VANTOREL_SIGN_KEY)
    message(FATAL_ERROR "signing needs both VANTOREL_SIGN_CERT and VANTOREL_SIGN_KEY")
  endif()
  foreach(_pem "${VANTOREL_SIGN_CERT}" "${VANTOREL_SIGN_KEY}")
    if(NOT EXISTS "${_pem}")
      message(FATAL_ERROR "signing: ${_pem} not found")
    endif()
  endforeach()
  find_program(VANTOREL_OSSLSIGNCODE osslsigncode)
  if(NOT VANTOREL_OSSLSIGNCODE)
    message(FATAL_ERROR "osslsigncode not found: run scripts/bootstrap")
  endif()
  set(VANTOREL_SIGNING ON)
endif()
set(VANTOREL_SIGNING_SCRIPT "${CMAKE_CURRENT_LIST_FILE}")
