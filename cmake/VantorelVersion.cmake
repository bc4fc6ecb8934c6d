# The product's version, read from the agent's built-in package version so
# that the two cannot drift apart: VANTOREL_VERSION, such as "0.09.25.3".
file(STRINGS "${PROJECT_SOURCE_DIR}/agent/service/package_versions.h" _vantorel_version_line
     REGEX "kBuiltInPackageVersion = u\"")
if(NOT _vantorel_version_line MATCHES "\"([0-9]+(\\.[0-9]+)*)\"")
  message(FATAL_ERROR "no kBuiltInPackageVersion in agent/service/package_versions.h")
endif()
set(VANTOREL_VERSION "${CMAKE_MATCH_1}")

# vantorel_version_numbers(OUT_VAR VERSION SEPARATOR)
# The four numbers of a version resource's fixed part, joined by SEPARATOR;
# "09" reads as 9, missing numbers as 0.
function(vantorel_version_numbers out version separator)
  string(REPLACE "." ";" _numbers "${version}")
  list(APPEND _numbers 0 0 0 0)
  list(SUBLIST _numbers 0 4 _numbers)
  set(_fixed)
  foreach(_n IN LISTS _numbers)
    math(EXPR _n "${_n}")
    list(APPEND _fixed ${_n})
  endforeach()
  string(REPLACE ";" "${separator}" _fixed "${_fixed}")
  set(${out} "${_fixed}" PARENT_SCOPE)
endfunction()
vantorel_version_numbers(VANTOREL_VERSION_NUMBERS "${VANTOREL_VERSION}" ".")

# vantorel_version_resource(OUT_VAR FILE_NAME DESCRIPTION [VERSION v] [DLL])
# Writes the resource script of a version resource for FILE_NAME (file and
# product version, product name, description) and sets OUT_VAR to its path.
function(vantorel_version_resource out file_name description)
  cmake_parse_arguments(ARG "DLL" "VERSION" "" ${ARGN})
  set(VERSION "${VANTOREL_VERSION}")
  if(ARG_VERSION)
    set(VERSION "${ARG_VERSION}")
  endif()
  vantorel_version_numbers(NUMBERS "${VERSION}" ",")
  set(FILE_NAME "${file_name}")
  set(DESCRIPTION "${description}")
  set(FILE_TYPE VFT_APP)
  if(ARG_DLL)
    set(FILE_TYPE VFT_DLL)
  endif()
  set(_rc "${CMAKE_BINARY_DIR}/version/${file_name}-${VERSION}.rc")
  configure_file("${PROJECT_SOURCE_DIR}/cmake/version_info.rc.in" "${_rc}" @ONLY)
  set(${out} "${_rc}" PARENT_SCOPE)
endfunction()
