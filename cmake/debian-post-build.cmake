# Run by CPack after it has built the packages; mends what CPack 3.25 writes
# differently from Debian's own tools, and rebuilds the package.
#
# - The library's package asks dpkg to run ldconfig through a trigger (its
#   control file `triggers`), once per dpkg run. CPack still adds a postinst and
#   a postrm that call ldconfig themselves, which Debian's policy no longer
#   wants: they go.
# - CPack's debug symbol packages (<package>-dbgsym, .ddeb) list the staging
#   directory's absolute paths in md5sums, and carry no documentation
#   directory: the checksums are written again, the files made 0644 as
#   dh_strip leaves them, and /usr/share/doc/<package>-dbgsym links to the
#   directory of the package they belong to (and depend on), as dh_strip does.
if(NOT CPACK_GENERATOR STREQUAL "DEB")
  return()
endif()

function(vfb_rebuild deb tree)
  # The checksums of every regular file, by path relative to the root.
  file(GLOB_RECURSE _files LIST_DIRECTORIES false RELATIVE "${tree}" "${tree}/*")
  list(FILTER _files EXCLUDE REGEX "^DEBIAN/")
  list(SORT _files)
  set(_sums "")
  foreach(_file IN LISTS _files)
    if(NOT IS_SYMLINK "${tree}/${_file}")
      file(MD5 "${tree}/${_file}" _md5)
      string(APPEND _sums "${_md5}  ${_file}\n")
    endif()
  endforeach()
  file(WRITE "${tree}/DEBIAN/md5sums" "${_sums}")
  execute_process(COMMAND dpkg-deb --root-owner-group -Zxz -b "${tree}" "${deb}"
    OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
  file(REMOVE_RECURSE "${tree}")
endfunction()

file(GLOB _debug_packages "${CPACK_PACKAGE_DIRECTORY}/*-dbgsym_*.ddeb")
set(_packages ${CPACK_PACKAGE_FILES} ${_debug_packages})
list(REMOVE_DUPLICATES _packages)
foreach(_deb IN LISTS _packages)
  set(_tree "${_deb}.tree")
  if(_deb MATCHES "/libvantrelfb[0-9]+_[^/]*\\.deb$")
    file(REMOVE_RECURSE "${_tree}")
    execute_process(COMMAND dpkg-deb -R "${_deb}" "${_tree}" COMMAND_ERROR_IS_FATAL ANY)
    foreach(_script IN ITEMS postinst postrm)
      set(_file "${_tree}/DEBIAN/${_script}")
      if(EXISTS "${_file}")
        file(READ "${_file}" _text)
        # Only CPack's own script, which does nothing else.
        string(REGEX REPLACE "#[^\n]*|set -e|if \\[ \"\\$1\" = \"[a-z]+\" \\]; then|ldconfig|fi|[ \t\n]" "" _rest "${_text}")
        if(NOT _rest STREQUAL "")
          message(FATAL_ERROR "${_deb}: ${_script} does more than call ldconfig:\n${_text}")
        endif()
        file(REMOVE "${_file}")
      endif()
    endforeach()
    vfb_rebuild("${_deb}" "${_tree}")
  elseif(_deb MATCHES "/([^/_]+)-dbgsym_[^/]*\\.ddeb$")
    set(_owner ${CMAKE_MATCH_1})
    file(REMOVE_RECURSE "${_tree}")
    execute_process(COMMAND dpkg-deb -R "${_deb}" "${_tree}" COMMAND_ERROR_IS_FATAL ANY)
    file(GLOB_RECURSE _debug_files LIST_DIRECTORIES false "${_tree}/usr/*")
    foreach(_file IN LISTS _debug_files)
      file(CHMOD "${_file}" FILE_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
    endforeach()
    file(MAKE_DIRECTORY "${_tree}/usr/share/doc")
    file(CREATE_LINK ${_owner} "${_tree}/usr/share/doc/${_owner}-dbgsym" SYMBOLIC)
    vfb_rebuild("${_deb}" "${_tree}")
  endif()
endforeach()
