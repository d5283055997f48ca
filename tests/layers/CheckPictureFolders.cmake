# The shared folders of picture/ stand beneath the formats: the life of a
# decoded picture (decoding/) and the scaling (scaling/) include no format's
# header, and the scaling knows nothing of decoding.
set(rules "decoding:picture/(bmp|icon|jpeg|metafile|png|gif|webp|tiff|avif|heif)/"
          "scaling:picture/(decoding|bmp|icon|jpeg|metafile|png|gif|webp|tiff|avif|heif)/")
foreach(rule ${rules})
  string(REGEX REPLACE ":.*" "" folder "${rule}")
  string(REGEX REPLACE "^[^:]*:" "" forbidden "${rule}")
  file(GLOB_RECURSE sources ${SRC}/picture/${folder}/*.cpp ${SRC}/picture/${folder}/*.h)
  foreach(source ${sources})
    file(STRINGS ${source} includes REGEX "^#include \"${forbidden}")
    if(includes)
      message(FATAL_ERROR "${source} reaches above its folder: ${includes}")
    endif()
  endforeach()
endforeach()
