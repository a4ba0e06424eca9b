# The files that make the CPack packages Debian's own: a machine-readable
# copyright file and a changelog for every package, and for the library's
# package the ldconfig trigger and the symbols file. Each is derived from the
# file that already states its facts (LICENSE, CHANGELOG.md, the export map),
# so none is written twice. Included by install.cmake.
set(_vfb_debian ${CMAKE_CURRENT_BINARY_DIR}/debian)
file(MAKE_DIRECTORY ${_vfb_debian})
set(_vfb_maintainer "The VantrelFB developers <vantrelfb@example.org>")

# copyright, in the machine-readable format (DEP-5), from LICENSE: its
# copyright line and its text. DEP-5 calls the MIT license "Expat", since
# "MIT" names several licenses.
file(READ ${CMAKE_CURRENT_LIST_DIR}/../LICENSE _vfb_license)
if(NOT _vfb_license MATCHES "^MIT License\n+Copyright \\(c\\) ([^\n]+)\n+(.*)$")
  message(FATAL_ERROR "LICENSE is no longer the MIT license: say its DEP-5 name in cmake/debian.cmake")
endif()
set(_vfb_holder "${CMAKE_MATCH_1}")
string(STRIP "${CMAKE_MATCH_2}" _vfb_license)
string(REGEX REPLACE "\n\n" "\n.\n" _vfb_license "${_vfb_license}")
string(REGEX REPLACE "\n" "\n " _vfb_license "${_vfb_license}")
file(WRITE ${_vfb_debian}/copyright
"Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/
Upstream-Name: VantrelFB
Upstream-Contact: ${_vfb_maintainer}

Files: *
Copyright: ${_vfb_holder}
License: Expat
 ${_vfb_license}
")
set(VFB_DEBIAN_COPYRIGHT ${_vfb_debian}/copyright)

# changelog.gz: the packages are native (their version is the project's, with
# no Debian revision), so Debian looks for the changelog under that name and
# in its own format. Its entry carries the release date CHANGELOG.md gives the
# version; a version not released yet takes the build's time
# (SOURCE_DATE_EPOCH when set).
file(STRINGS ${CMAKE_CURRENT_LIST_DIR}/../CHANGELOG.md _vfb_release ENCODING UTF-8
  REGEX "^## ${PROJECT_VERSION} .* [0-9][0-9][0-9][0-9]-[0-9][0-9]-[0-9][0-9]$")
if(_vfb_release MATCHES "([0-9][0-9][0-9][0-9])-([0-9][0-9])-([0-9][0-9])$")
  set(_y ${CMAKE_MATCH_1})
  math(EXPR _m "1${CMAKE_MATCH_2} - 100")
  math(EXPR _d "1${CMAKE_MATCH_3} - 100")
  # The day of the week (Sakamoto's method; 0 is Sunday).
  set(_offsets 0 3 2 5 0 3 5 1 4 6 2 4)
  math(EXPR _i "${_m} - 1")
  list(GET _offsets ${_i} _offset)
  if(_m LESS 3)
    math(EXPR _y "${_y} - 1")
  endif()
  math(EXPR _wd "(${_y} + ${_y} / 4 - ${_y} / 100 + ${_y} / 400 + ${_offset} + ${_d}) % 7")
  set(_days Sun Mon Tue Wed Thu Fri Sat)
  set(_months Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec)
  list(GET _days ${_wd} _wd)
  list(GET _months ${_i} _mon)
  set(_vfb_date "${_wd}, ${CMAKE_MATCH_3} ${_mon} ${CMAKE_MATCH_1} 00:00:00 +0000")
else()
  string(TIMESTAMP _vfb_date "%a, %d %b %Y %H:%M:%S +0000" UTC)
endif()
file(WRITE ${_vfb_debian}/changelog
"vantrelfb (${PROJECT_VERSION}) unstable; urgency=medium

  * VantrelFB ${PROJECT_VERSION}; CHANGELOG.md in its source lists the changes.

 -- ${_vfb_maintainer}  ${_vfb_date}
")
execute_process(COMMAND ${VFB_GZIP} -9nc ${_vfb_debian}/changelog
  OUTPUT_FILE ${_vfb_debian}/changelog.gz RESULT_VARIABLE _rc)
if(NOT _rc EQUAL 0)
  message(FATAL_ERROR "gzip could not compress ${_vfb_debian}/changelog")
endif()
set(VFB_DEBIAN_CHANGELOG ${_vfb_debian}/changelog.gz)

# The library's package: dpkg runs ldconfig once after installing or removing
# it (the trigger), and the symbols file lists every symbol the export map lets
# out, the map's patterns matched against the .def file's names. lintian
# compares it with the library's dynamic symbols, so an export added to the
# map and not here, or the other way round, fails the package stage.
file(WRITE ${_vfb_debian}/triggers "activate-noawait ldconfig\n")
file(STRINGS ${CMAKE_CURRENT_LIST_DIR}/../src/module/exports.map _vfb_map)
file(STRINGS ${CMAKE_CURRENT_LIST_DIR}/../src/module/VantrelFB.def _vfb_def REGEX "^ +[A-Za-z_][A-Za-z0-9_]* @")
list(TRANSFORM _vfb_def REPLACE "^ +([A-Za-z0-9_]+) @.*" "\\1")
set(_vfb_symbols)
set(_vfb_global FALSE)
foreach(_line IN LISTS _vfb_map)
  string(STRIP "${_line}" _line)
  if(_line STREQUAL "global:")
    set(_vfb_global TRUE)
  elseif(_line MATCHES ":$")
    set(_vfb_global FALSE)
  elseif(_vfb_global AND _line MATCHES "^([A-Za-z0-9_*]+);$")
    set(_pattern ${CMAKE_MATCH_1})
    if(_pattern MATCHES "\\*")
      string(REPLACE "*" "[A-Za-z0-9_]*" _pattern "^${_pattern}$")
      set(_matches ${_vfb_def})
      list(FILTER _matches INCLUDE REGEX "${_pattern}")
      list(APPEND _vfb_symbols ${_matches})
    else()
      list(APPEND _vfb_symbols ${_pattern})
    endif()
  endif()
endforeach()
list(REMOVE_DUPLICATES _vfb_symbols)
list(SORT _vfb_symbols)
# Every symbol at the package's version: the symbols file of a release before
# this one was never shipped, so no older minimum can be vouched for.
list(TRANSFORM _vfb_symbols PREPEND " ")
list(TRANSFORM _vfb_symbols APPEND "@Base ${PROJECT_VERSION}")
list(JOIN _vfb_symbols "\n" _vfb_symbols)
file(WRITE ${_vfb_debian}/symbols
"libvantrelfb.so.${PROJECT_VERSION_MAJOR} libvantrelfb${PROJECT_VERSION_MAJOR} #MINVER#
* Build-Depends-Package: libvantrelfb-dev
${_vfb_symbols}
")
set(VFB_DEBIAN_RUNTIME_CONTROL ${_vfb_debian}/triggers ${_vfb_debian}/symbols)

# Read by the scripts CPack runs before and after it builds the packages.
if(DEFINED VFB_CURL_MIN_VERSION)
  set(CPACK_VFB_CURL_MIN_VERSION ${VFB_CURL_MIN_VERSION})
  get_filename_component(CPACK_VFB_CURL_LIBRARY "${CURL_LIBRARY_RELEASE}" REALPATH)
endif()
set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/debian-pre-build.cmake)
set(CPACK_POST_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/debian-post-build.cmake)
