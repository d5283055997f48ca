# Checks the desktop entry (as an installation makes it) and the AppStream
# description with the desktop's own validators, and that the entry announces
# the media types of the formats every build registers.
#   -DTEMPLATE=<generated entry> -DMETAINFO=<metainfo.xml> -DWORK=<dir>
#   -DDESKTOP_FILE_VALIDATE=<tool> -DAPPSTREAMCLI=<tool>
set(bindir /usr/bin)
configure_file(${TEMPLATE} ${WORK}/KestImageDemo.desktop @ONLY)
file(READ ${WORK}/KestImageDemo.desktop entry)
foreach(expected "Exec=/usr/bin/KestImageDemo %F" "image/jpeg;" "image/bmp;" "image/vnd.microsoft.icon;" "image/emf;")
  string(FIND "${entry}" "${expected}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "the desktop entry lacks ${expected}:\n${entry}")
  endif()
endforeach()
execute_process(COMMAND ${DESKTOP_FILE_VALIDATE} ${WORK}/KestImageDemo.desktop
                RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
if(NOT rc EQUAL 0 OR NOT out STREQUAL "")
  message(FATAL_ERROR "desktop-file-validate: ${out}")
endif()
execute_process(COMMAND ${APPSTREAMCLI} validate --no-net ${METAINFO}
                RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "appstreamcli validate: ${out}")
endif()
