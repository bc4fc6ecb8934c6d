# Makes the setup program (cmake -P, from setup/CMakeLists.txt): copies the
# install layout and the service's files into STAGE, signs our binaries there
# when SIGNING is on, writes the lists of what is installed and removed
# (files.nsh), and runs makensis, quiet unless it fails. VERSION is the
# product version, VERSION_NUMBERS its four numbers ("0.9.25.3"), BITMAP the
# picture of the first and last pages, EPOCH (when not empty) the time given
# to every packed file.
file(REMOVE_RECURSE "${STAGE}")
file(COPY "${LAYOUT}/" DESTINATION "${STAGE}")
if(SERVICE_FILES)
  file(COPY "${SERVICE_FILES}/" DESTINATION "${STAGE}")
endif()

# A release dates every packed file at its commit, so that two builds of one
# commit pack the same bytes (NSIS keeps each file's time).
get_filename_component(_work "${STAGE}" DIRECTORY)
if(EPOCH)
  file(COPY "${BITMAP}" DESTINATION "${_work}/pictures")
  get_filename_component(_bitmap_name "${BITMAP}" NAME)
  set(BITMAP "${_work}/pictures/${_bitmap_name}")
  file(GLOB_RECURSE _staged LIST_DIRECTORIES true "${STAGE}/*")
  execute_process(COMMAND touch -h -d "@${EPOCH}" "${STAGE}" ${_staged} "${BITMAP}" RESULT_VARIABLE _rc)
  if(NOT _rc EQUAL 0)
    message(FATAL_ERROR "could not date the staged files at ${EPOCH}")
  endif()
endif()

set(_sign_args "-DVANTOREL_SIGN_CERT=${SIGN_CERT}" "-DVANTOREL_SIGN_KEY=${SIGN_KEY}"
               "-DVANTOREL_OSSLSIGNCODE=${OSSLSIGNCODE}" -P "${SIGNING_SCRIPT}")
if(SIGNING)
  # Ours only: 7zr.exe and the service's files come signed, or not, by others.
  file(GLOB _languages RELATIVE "${LAYOUT}" "${LAYOUT}/*/Pellick.dll")
  foreach(_ours Vantorel.exe Pasmiro.exe Stolvane.exe Pellick.dll ${_languages})
    execute_process(COMMAND "${CMAKE_COMMAND}" ${_sign_args} "${STAGE}/${_ours}" RESULT_VARIABLE _rc)
    if(NOT _rc EQUAL 0)
      message(FATAL_ERROR "signing ${_ours} failed")
    endif()
  endforeach()
endif()

# What the uninstaller removes is exactly what was packed: each file by name,
# then each folder, deepest first, only when empty.
function(nsis_quote out text)
  string(REPLACE "$" "$$" text "${text}")
  string(REPLACE "\"" "$\\\"" text "${text}")
  string(REPLACE "/" "\\" text "${text}")
  set(${out} "${text}" PARENT_SCOPE)
endfunction()
file(GLOB_RECURSE _files RELATIVE "${STAGE}" "${STAGE}/*")
file(GLOB_RECURSE _entries LIST_DIRECTORIES true RELATIVE "${STAGE}" "${STAGE}/*")
set(_dirs ${_entries})
list(REMOVE_ITEM _dirs ${_files})
list(SORT _files)
list(SORT _dirs)
list(REVERSE _dirs)
set(_install "")
set(_remove "")
set(_bytes 0)
set(_current_dir "-")
foreach(_file IN LISTS _files)
  get_filename_component(_dir "${_file}" DIRECTORY)
  if(NOT _dir STREQUAL _current_dir)
    nsis_quote(_win_dir "${_dir}")
    if(_dir STREQUAL "")
      string(APPEND _install "  SetOutPath \"$INSTDIR\"\n")
    else()
      string(APPEND _install "  SetOutPath \"$INSTDIR\\${_win_dir}\"\n")
    endif()
    set(_current_dir "${_dir}")
  endif()
  nsis_quote(_win "${_file}")
  set(_source "${STAGE}/${_file}")  # taken as written: File does not read $$ in its source
  string(APPEND _install "  File \"${_source}\"\n")
  string(APPEND _remove "  Delete \"$INSTDIR\\${_win}\"\n")
  file(SIZE "${STAGE}/${_file}" _size)
  math(EXPR _bytes "${_bytes} + ${_size}")
endforeach()
foreach(_dir IN LISTS _dirs)
  nsis_quote(_win "${_dir}")
  string(APPEND _remove "  RMDir \"$INSTDIR\\${_win}\"\n")
endforeach()
# What an update in progress leaves: removed by the install and the uninstall.
file(STRINGS "${PENDING_UPDATE_FILES}" _pending REGEX "^[^#]")
set(_pending_remove "")
foreach(_name IN LISTS _pending)
  nsis_quote(_win "${_name}")
  if(_win MATCHES "\\\\$")
    string(REGEX REPLACE "\\\\$" "" _win "${_win}")
    string(APPEND _pending_remove "  RMDir /r \"$INSTDIR\\${_win}\"\n")
  else()
    string(APPEND _pending_remove "  Delete \"$INSTDIR\\${_win}\"\n")
  endif()
endforeach()
math(EXPR _kib "(${_bytes} + 1023) / 1024")
file(WRITE "${_work}/files.nsh"
  "; Written by setup/make_setup.cmake.\n"
  "!define VANTOREL_SIZE_KIB ${_kib}\n"
  "!macro VANTOREL_INSTALL_FILES\n${_install}!macroend\n"
  "!macro VANTOREL_REMOVE_FILES\n${_remove}!macroend\n"
  "!macro VANTOREL_REMOVE_PENDING_UPDATE\n${_pending_remove}!macroend\n")

set(_defines "-DVERSION=${VERSION}" "-DVERSION_FIXED=${VERSION_NUMBERS}" "-DSTAGE=${STAGE}"
             "-DFILES_NSH=${_work}/files.nsh" "-DOUTFILE=${OUTPUT}" "-DBITMAP=${BITMAP}")
if(SIGNING)
  set(_sign_command "\"${CMAKE_COMMAND}\"")
  foreach(_arg IN LISTS _sign_args)
    string(APPEND _sign_command " \"${_arg}\"")
  endforeach()
  list(APPEND _defines "-DSIGN_COMMAND=${_sign_command}")
endif()
file(REMOVE "${OUTPUT}")
get_filename_component(_output_dir "${OUTPUT}" DIRECTORY)
file(MAKE_DIRECTORY "${_output_dir}")
execute_process(COMMAND "${MAKENSIS}" -V2 -WX -NOCD -INPUTCHARSET UTF8 ${_defines} "${SCRIPT}"
                RESULT_VARIABLE _rc OUTPUT_VARIABLE _out ERROR_VARIABLE _out)
if(NOT _rc EQUAL 0 OR NOT EXISTS "${OUTPUT}")
  file(REMOVE "${OUTPUT}")
  message(FATAL_ERROR "makensis failed:\n${_out}")
endif()
