# Run by CPack after it has installed each component and before it builds the
# packages (and strips their binaries).
if(NOT CPACK_GENERATOR STREQUAL "DEB")
  return()
endif()

# dpkg-shlibdeps takes libcurl4's floor from the symbols the library calls
# (curl_easy_header: 7.83.0), but the options it passes count as well, and
# those are no symbols: CURLOPT_CA_CACHE_TIMEOUT needs 7.87.0. A
# debian/shlibs.local beside the library's staged files overrides what
# libcurl4 says of itself; CPack removes that directory before packaging.
if(CPACK_VFB_CURL_MIN_VERSION)
  set(_package libcurl4)
  if(CPACK_VFB_CURL_LIBRARY)
    # The package that holds the library linked against, whatever a
    # distribution names it.
    execute_process(COMMAND dpkg-query -S "${CPACK_VFB_CURL_LIBRARY}"
      OUTPUT_VARIABLE _owner RESULT_VARIABLE _rc ERROR_QUIET)
    if(_rc EQUAL 0 AND _owner MATCHES "^([a-z0-9.+-]+)(:[a-z0-9-]+)?: ")
      set(_package ${CMAKE_MATCH_1})
    endif()
  endif()
  file(WRITE "${CPACK_TEMPORARY_DIRECTORY}/Runtime/debian/shlibs.local"
    "libcurl 4 ${_package} (>= ${CPACK_VFB_CURL_MIN_VERSION})\n")
endif()

# The compilers' version strings (.comment) are of no use at run time; Debian's
# own packages drop them when stripping.
find_program(_objcopy objcopy REQUIRED)
file(GLOB_RECURSE _files LIST_DIRECTORIES false "${CPACK_TEMPORARY_DIRECTORY}/*")
foreach(_file IN LISTS _files)
  if(IS_SYMLINK "${_file}")
    continue()
  endif()
  file(READ "${_file}" _magic LIMIT 4 HEX)
  if(_magic STREQUAL "7f454c46")
    execute_process(COMMAND ${_objcopy} --remove-section=.comment "${_file}" COMMAND_ERROR_IS_FATAL ANY)
  endif()
endforeach()
