# Installs the library the way its users' build systems expect to find it:
# the versioned shared library with its SONAME links, the header, the tool, a
# pkg-config file and a CMake package (find_package(VantrelFB) ->
# VantrelFB::vantrelfb).
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(VFB_INSTALL_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/VantrelFB
  CACHE STRING "Where the CMake package files of VantrelFB are installed")

# vantrelfb_platform and vantrelfb_core are linked PRIVATE into the shared
# library, so they stay out of the exported link interface and need no export
# set of their own.
# The target's own INSTALL_INTERFACE names "include"; only a different
# include directory needs adding to the exported interface.
set(_vfb_includes)
if(NOT CMAKE_INSTALL_INCLUDEDIR STREQUAL "include")
  set(_vfb_includes INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
endif()
install(TARGETS vantrelfb EXPORT VantrelFBTargets
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} NAMELINK_COMPONENT Development
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT Development
  ${_vfb_includes})
install(FILES ${CMAKE_CURRENT_LIST_DIR}/../include/vantrelfb.h
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT Development)

if(TARGET vantrelfb_tool)
  install(TARGETS vantrelfb_tool RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
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

# The .pc file locates itself (${pcfiledir}) so that `cmake --install --prefix`
# and DESTDIR staging give a usable file without reconfiguring.
set(VFB_PC_LIBDIR ${CMAKE_INSTALL_LIBDIR})
set(VFB_PC_INCLUDEDIR ${CMAKE_INSTALL_INCLUDEDIR})
if(IS_ABSOLUTE "${VFB_PC_LIBDIR}" OR IS_ABSOLUTE "${VFB_PC_INCLUDEDIR}")
  set(VFB_PC_PREFIX "${CMAKE_INSTALL_PREFIX}")
  set(VFB_PC_LIBDIR "${CMAKE_INSTALL_FULL_LIBDIR}")
  set(VFB_PC_INCLUDEDIR "${CMAKE_INSTALL_FULL_INCLUDEDIR}")
else()
  file(RELATIVE_PATH _vfb_pc_up /${CMAKE_INSTALL_LIBDIR}/pkgconfig /)
  string(REGEX REPLACE "/$" "" _vfb_pc_up "${_vfb_pc_up}")
  set(VFB_PC_PREFIX "\${pcfiledir}/${_vfb_pc_up}")
  set(VFB_PC_LIBDIR "\${prefix}/${VFB_PC_LIBDIR}")
  set(VFB_PC_INCLUDEDIR "\${prefix}/${VFB_PC_INCLUDEDIR}")
endif()
configure_file(${CMAKE_CURRENT_LIST_DIR}/vantrelfb.pc.in ${CMAKE_CURRENT_BINARY_DIR}/vantrelfb.pc @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/vantrelfb.pc
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig
  COMPONENT Development)

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
      ${_vfb_install_test_extra})
  set_tests_properties(install PROPERTIES TIMEOUT 600)
endif()
