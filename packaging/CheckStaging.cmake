# Runs in CPack once the packages' files are staged (each component under a
# folder of its name), before the packages are made: fails if a file would
# install outside /usr or the changelog's or the AppStream description's newest
# entry is not this version, and strips what Debian's tools strip (debugging
# data of static libraries, comment and note sections of programs).
#   By hand: cmake -DCPACK_TEMPORARY_INSTALL_DIRECTORY=<dir> -DCPACK_PACKAGE_VERSION=<v>
#                  -DCPACK_KEST_CHANGELOG_VERSION=<v> -DCPACK_KEST_METAINFO_VERSION=<v> -P CheckStaging.cmake
foreach(entry CHANGELOG METAINFO)
  if(NOT CPACK_KEST_${entry}_VERSION STREQUAL CPACK_PACKAGE_VERSION)
    message(FATAL_ERROR "the newest ${entry} entry is version \"${CPACK_KEST_${entry}_VERSION}\", "
                        "not ${CPACK_PACKAGE_VERSION}: add an entry for the new version "
                        "(packaging/changelog, viewer/KestImageDemo.metainfo.xml)")
  endif()
endforeach()
file(GLOB_RECURSE staged LIST_DIRECTORIES false RELATIVE ${CPACK_TEMPORARY_INSTALL_DIRECTORY}
     ${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*)
set(outside)
foreach(path ${staged})
  set(strip)
  if(NOT path MATCHES "^[^/]+/usr/")
    list(APPEND outside "${path}")
  elseif(path MATCHES "\\.a$")
    set(strip --strip-debug --remove-section=.comment --remove-section=.note --enable-deterministic-archives)
  elseif(path MATCHES "^[^/]+/usr/bin/")
    set(strip --remove-section=.comment --remove-section=.note)
  endif()
  if(strip)
    execute_process(COMMAND strip ${strip} ${CPACK_TEMPORARY_INSTALL_DIRECTORY}/${path} RESULT_VARIABLE r)
    if(r)
      message(FATAL_ERROR "cannot strip ${path}")
    endif()
  endif()
endforeach()
if(outside)
  list(JOIN outside "\n  " outside)
  message(FATAL_ERROR "files would install outside /usr (each after its package's folder):\n  ${outside}")
endif()
