# Installs the library the way its users' build systems expect to find it:
# the versioned shared library with its SONAME links, the header, the tool, a
# pkg-config file and a CMake package (find_package(VantrelFB) ->
# VantrelFB::vantrelfb).
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(VFB_INSTALL_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/VantrelFB
  CACHE STRING "Where the CMake package files of VantrelFB are installed")

# Manual pages are installed compressed, as Debian's policy asks and every man
# reader expects; -n leaves the name and time out of the gzip header, so that
# two builds of one source give the same bytes.
find_program(VFB_GZIP gzip REQUIRED)
function(vfb_install_manpage name section component)
  set(_plain ${CMAKE_CURRENT_BINARY_DIR}/man${section}/${name}.${section})
  configure_file(${CMAKE_CURRENT_FUNCTION_LIST_DIR}/../docs/man/${name}.${section}.in ${_plain} @ONLY)
  execute_process(COMMAND ${VFB_GZIP} -9nc ${_plain} OUTPUT_FILE ${_plain}.gz RESULT_VARIABLE _rc)
  if(NOT _rc EQUAL 0)
    message(FATAL_ERROR "gzip could not compress ${_plain}")
  endif()
  install(FILES ${_plain}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section} COMPONENT ${component})
endfunction()

# vantrelfb_platform and vantrelfb_portable are linked PRIVATE into the shared
# library, so they stay out of the exported link interface and need no export
# set of their own.
# The target's own INSTALL_INTERFACE names "include"; only a different
# include directory needs adding to the exported interface.
set(_vfb_includes)
if(NOT CMAKE_INSTALL_INCLUDEDIR STREQUAL "include")
  set(_vfb_includes INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
endif()
install(TARGETS vantrelfb EXPORT VantrelFBTargets
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT Runtime
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT Runtime NAMELINK_COMPONENT Development
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT Development
  ${_vfb_includes})
install(FILES ${CMAKE_CURRENT_LIST_DIR}/../include/vantrelfb.h ${CMAKE_CURRENT_LIST_DIR}/../include/vantrelfb_utf.h
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT Development)

if(TARGET vantrelfb_tool)
  install(TARGETS vantrelfb_tool RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT Tool)
  vfb_install_manpage(vantrelfb 1 Tool)
  # Where each shell looks for a command's script: bash-completion loads it
  # on first use; Debian's zsh has /usr/share/zsh/vendor-completions in its
  # $fpath, and fish searches vendor_completions.d of every XDG data
  # directory.
  if(TARGET vantrelfb_completions)
    install(FILES ${VFB_BASH_COMPLETION} RENAME vantrelfb
      DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/bash-completion/completions COMPONENT Tool)
    install(FILES ${VFB_ZSH_COMPLETION} RENAME _vantrelfb
      DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/zsh/vendor-completions COMPONENT Tool)
    install(FILES ${VFB_FISH_COMPLETION} RENAME vantrelfb.fish
      DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/fish/vendor_completions.d COMPONENT Tool)
  endif()
endif()

# The library's manual and one page per export name (the names are the .def
# file's, which the unit suite holds to the header): the extensions have a
# page of their own (docs/man/<name>.3.in), the service functions a symbolic
# link to the manual, which describes them together. Links rather than .so
# requests: Debian's policy prefers them, and a link follows the compressed
# page whatever its suffix.
vfb_install_manpage(vantrelfb 3 Development)
file(STRINGS ${CMAKE_CURRENT_LIST_DIR}/../src/module/VantrelFB.def _vfb_def_lines REGEX "^ +(FaceBook|vfb_)[A-Za-z_]+ @")
set(_vfb_def_names)
foreach(_vfb_line IN LISTS _vfb_def_lines)
  string(REGEX REPLACE "^ +([A-Za-z_]+) @.*" "\\1" _vfb_name "${_vfb_line}")
  list(APPEND _vfb_def_names ${_vfb_name})
  if(EXISTS ${CMAKE_CURRENT_LIST_DIR}/../docs/man/${_vfb_name}.3.in)
    vfb_install_manpage(${_vfb_name} 3 Development)
    continue()
  elseif(_vfb_name MATCHES "^vfb_")
    message(FATAL_ERROR "the export ${_vfb_name} has no manual page docs/man/${_vfb_name}.3.in")
  endif()
  file(CREATE_LINK vantrelfb.3.gz ${CMAKE_CURRENT_BINARY_DIR}/man3/${_vfb_name}.3.gz SYMBOLIC)
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/man3/${_vfb_name}.3.gz
    DESTINATION ${CMAKE_INSTALL_MANDIR}/man3 COMPONENT Development)
endforeach()

# The Python module: pure Python over ctypes, nothing to build. It goes where
# the prefix's python3 looks: under /usr on Debian, the directory Debian's
# own python3 reads whatever its minor version; elsewhere what the build
# machine's python3 names for that prefix (Debian's python3 reads
# lib/python3.X/dist-packages under /usr/local, others site-packages).
if(NOT WIN32)
  if(NOT DEFINED VFB_INSTALL_PYTHONDIR)
    set(_vfb_pythondir lib/python3/dist-packages)
    if(NOT (CMAKE_INSTALL_PREFIX STREQUAL "/usr" AND EXISTS /etc/debian_version))
      find_package(Python3 COMPONENTS Interpreter QUIET)
      if(Python3_Interpreter_FOUND)
        execute_process(COMMAND ${Python3_EXECUTABLE} -c [=[
import os, sys, sysconfig
prefix = sys.argv[1]
if "deb_system" in sysconfig.get_scheme_names():
    print("lib/python%d.%d/dist-packages" % sys.version_info[:2])
else:
    print(os.path.relpath(sysconfig.get_path("purelib", "posix_prefix", vars={"base": prefix, "platbase": prefix}), prefix))
]=] ${CMAKE_INSTALL_PREFIX}
          OUTPUT_VARIABLE _vfb_found OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE _vfb_rc)
        if(_vfb_rc EQUAL 0 AND _vfb_found MATCHES "^lib")
          set(_vfb_pythondir ${_vfb_found})
        endif()
      endif()
    endif()
  endif()
  set(VFB_INSTALL_PYTHONDIR ${_vfb_pythondir} CACHE STRING
    "Where the Python module vantrelfb is installed, relative to the prefix")
  # The installed module tells the version of the library it came with,
  # whatever the checkout's _version.py says (scripts/test-bindings.sh holds
  # that one to the build's).
  file(CONFIGURE OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/python/vantrelfb/_version.py
    CONTENT "# The version of the library this module was installed with.\n__version__ = \"@PROJECT_VERSION@\"\n"
    @ONLY)
  install(FILES ${CMAKE_CURRENT_LIST_DIR}/../bindings/python/vantrelfb/__init__.py
    ${CMAKE_CURRENT_LIST_DIR}/../bindings/python/vantrelfb/py.typed
    ${CMAKE_CURRENT_BINARY_DIR}/python/vantrelfb/_version.py
    DESTINATION ${VFB_INSTALL_PYTHONDIR}/vantrelfb COMPONENT Python)
endif()

install(EXPORT VantrelFBTargets
  NAMESPACE VantrelFB::
  DESTINATION ${VFB_INSTALL_CMAKEDIR}
  COMPONENT Development)
configure_package_config_file(
  ${CMAKE_CURRENT_LIST_DIR}/VantrelFBConfig.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/VantrelFBConfig.cmake
  INSTALL_DESTINATION ${VFB_INSTALL_CMAKEDIR})
# The SONAME changes with the major version, so only that must match.
write_basic_package_version_file(
  ${CMAKE_CURRENT_BINARY_DIR}/VantrelFBConfigVersion.cmake
  VERSION ${PROJECT_VERSION}
  COMPATIBILITY SameMajorVersion)
install(FILES
  ${CMAKE_CURRENT_BINARY_DIR}/VantrelFBConfig.cmake
  ${CMAKE_CURRENT_BINARY_DIR}/VantrelFBConfigVersion.cmake
  DESTINATION ${VFB_INSTALL_CMAKEDIR}
  COMPONENT Development)

# The .pc file names the prefix it is installed into (the one `cmake --install
# --prefix` gives, without DESTDIR) and derives the rest from ${prefix}, so that
# pkg-config recognises /usr/include and /usr/lib/<triplet> as the system's own
# and prints no -I or -L for them. The prefix is known only when installing, so
# it is filled in then; a tree moved after installing is found with
# `pkg-config --define-variable=prefix=NEW-PLACE`.
set(VFB_PC_PREFIX @VFB_PC_PREFIX@)
set(VFB_PC_LIBDIR ${CMAKE_INSTALL_LIBDIR})
set(VFB_PC_INCLUDEDIR ${CMAKE_INSTALL_INCLUDEDIR})
foreach(_vfb_dir IN ITEMS VFB_PC_LIBDIR VFB_PC_INCLUDEDIR)
  if(NOT IS_ABSOLUTE "${${_vfb_dir}}")
    set(${_vfb_dir} "\${prefix}/${${_vfb_dir}}")
  endif()
endforeach()
configure_file(${CMAKE_CURRENT_LIST_DIR}/vantrelfb.pc.in ${CMAKE_CURRENT_BINARY_DIR}/vantrelfb.pc.in @ONLY)
install(CODE "
  set(VFB_PC_PREFIX \"\${CMAKE_INSTALL_PREFIX}\")
  configure_file([[${CMAKE_CURRENT_BINARY_DIR}/vantrelfb.pc.in]] [[${CMAKE_CURRENT_BINARY_DIR}/vantrelfb.pc]] @ONLY)
" COMPONENT Development)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/vantrelfb.pc
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig
  COMPONENT Development)

# Debian packages: `cpack -G DEB` in a build configured with
# -DCMAKE_INSTALL_PREFIX=/usr (scripts/test-packages.sh does it all, and runs
# lintian on them).
set(_vfb_packages Runtime:libvantrelfb${PROJECT_VERSION_MAJOR} Development:libvantrelfb-dev Tool:vantrelfb)
if(NOT WIN32)
  list(APPEND _vfb_packages Python:python3-vantrelfb)
endif()
include(${CMAKE_CURRENT_LIST_DIR}/debian.cmake)
foreach(_vfb_package IN LISTS _vfb_packages)
  string(REPLACE ":" ";" _vfb_package "${_vfb_package}")
  list(GET _vfb_package 0 _vfb_component)
  list(GET _vfb_package 1 _vfb_name)
  install(FILES ${VFB_DEBIAN_COPYRIGHT} ${VFB_DEBIAN_CHANGELOG}
    DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${_vfb_name} COMPONENT ${_vfb_component} EXCLUDE_FROM_ALL)
endforeach()
set(CPACK_PACKAGE_NAME vantrelfb)
set(CPACK_PACKAGE_VENDOR "The VantrelFB developers")
set(CPACK_PACKAGE_CONTACT "The VantrelFB developers <vantrelfb@example.org>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_RESOURCE_FILE_LICENSE ${CMAKE_CURRENT_LIST_DIR}/../LICENSE)
set(CPACK_COMPONENTS_ALL ${_vfb_packages})
list(TRANSFORM CPACK_COMPONENTS_ALL REPLACE ":.*" "")
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
set(CPACK_DEBIAN_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The tool links the library of the same build, which no installed package
# provides yet; its package names that dependency itself.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_BINARY_DIR})
# Binaries ship stripped; their debug information goes into <package>-dbgsym
# (a .ddeb), found by build ID under /usr/lib/debug/.build-id as gdb expects.
set(CPACK_DEBIAN_DEBUGINFO_PACKAGE ON)
# Programs built against the library depend on the package that holds its
# SONAME, at least at the version they were built against.
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME libvantrelfb${PROJECT_VERSION_MAJOR})
set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_EXTRA ${VFB_DEBIAN_RUNTIME_CONTROL})
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME libvantrelfb-dev)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_DEPENDS "libvantrelfb${PROJECT_VERSION_MAJOR} (= ${PROJECT_VERSION})")
set(CPACK_DEBIAN_TOOL_PACKAGE_NAME vantrelfb)
set(CPACK_DEBIAN_TOOL_PACKAGE_SECTION net)
set(CPACK_DEBIAN_TOOL_PACKAGE_DEPENDS "libvantrelfb${PROJECT_VERSION_MAJOR} (= ${PROJECT_VERSION})")
# Python code only, which loads the library of the same version by its SONAME.
set(CPACK_DEBIAN_PYTHON_PACKAGE_NAME python3-vantrelfb)
set(CPACK_DEBIAN_PYTHON_PACKAGE_SECTION python)
set(CPACK_DEBIAN_PYTHON_PACKAGE_ARCHITECTURE all)
set(CPACK_DEBIAN_PYTHON_PACKAGE_DEPENDS "libvantrelfb${PROJECT_VERSION_MAJOR} (= ${PROJECT_VERSION}), python3")
# Each package's synopsis (the first line) and long description. What they
# share is said once.
set(_vfb_about "VantrelFB makes one synchronous HTTPS exchange with the social network's
Graph API per call (a status, a note, a check-in, an event, a photo or a
video, a deletion, the sign-in) and stores the answer byte for byte in a file
the application names; a result code says what happened.")
set(CPACK_DEBIAN_RUNTIME_DESCRIPTION "client library for the social network's Graph API
${_vfb_about}

This package holds the shared library.")
set(CPACK_DEBIAN_DEVELOPMENT_DESCRIPTION "client library for the social network's Graph API (development files)
${_vfb_about}

This package holds the C header, the pkg-config and CMake package files,
and the vantrelfb(3) manual with a page for each export.")
set(CPACK_DEBIAN_TOOL_DESCRIPTION "command-line client for the social network's Graph API
${_vfb_about}

This package holds the vantrelfb tool, which makes each of the library's
calls from the shell, with its manual and its bash completion.")
set(CPACK_DEBIAN_PYTHON_DESCRIPTION "Python 3 module for the social network's Graph API
${_vfb_about}

This package holds the Python module vantrelfb: one function per call of
the library, through ctypes, with the result codes as an enumeration.")
include(CPack)

if(VFB_BUILD_TESTS AND NOT WIN32 AND EXISTS ${CMAKE_CURRENT_LIST_DIR}/../tests/install/run.sh)
  set(_vfb_install_test_extra)
  if(VFB_SANITIZE)
    # The applications must load the sanitizer runtime first, as the library does.
    set(_vfb_install_test_extra --sanitize ${VFB_SANITIZE})
  endif()
  if(CMAKE_CROSSCOMPILING)
    # The applications are built for the target and run under its emulator.
    list(JOIN CMAKE_CROSSCOMPILING_EMULATOR " " _vfb_emulator)
    list(APPEND _vfb_install_test_extra --toolchain ${CMAKE_TOOLCHAIN_FILE} --emulator "${_vfb_emulator}")
  endif()
  add_test(NAME install
    COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/../tests/install/run.sh
      --build-dir ${CMAKE_BINARY_DIR}
      --cmake ${CMAKE_COMMAND}
      --cc ${CMAKE_C_COMPILER}
      --cxx ${CMAKE_CXX_COMPILER}
      --generator ${CMAKE_GENERATOR}
      --libdir ${CMAKE_INSTALL_LIBDIR}
      --soversion $<TARGET_PROPERTY:vantrelfb,SOVERSION>
      --version ${PROJECT_VERSION}
      --pythondir ${VFB_INSTALL_PYTHONDIR}
      ${_vfb_install_test_extra})
  set_tests_properties(install PROPERTIES TIMEOUT 600)
endif()
