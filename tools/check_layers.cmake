# Fails when a source file includes a header from a layer above its own.
# Layers, lowest first: compiler/src, server/src/workspace,
# server/src/features, server/src/core. Server headers are included by their
# folder ("workspace/document.h"), so the folder names the layer.
# Run as: cmake -DROOT=<project root> -P tools/check_layers.cmake
set(layers workspace features core)
set(failures "")

function(check_folder folder rank)
  file(GLOB_RECURSE files "${ROOT}/${folder}/*.h" "${ROOT}/${folder}/*.cpp")
  foreach(file ${files})
    file(STRINGS "${file}" lines REGEX "^[ \t]*#[ \t]*include[ \t]*\"")
    foreach(line ${lines})
      string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*\"([^\"]*)\".*" "\\1" header "${line}")
      set(i 1)
      foreach(layer ${layers})
        if(header MATCHES "^${layer}/" AND i GREATER rank)
          file(RELATIVE_PATH rel "${ROOT}" "${file}")
          set(failures "${failures}${rel}: includes ${header} from the ${layer} layer above it\n")
        endif()
        math(EXPR i "${i} + 1")
      endforeach()
    endforeach()
  endforeach()
  set(failures "${failures}" PARENT_SCOPE)
endfunction()

check_folder(compiler/src 0)
set(rank 1)
foreach(layer ${layers})
  check_folder(server/src/${layer} ${rank})
  math(EXPR rank "${rank} + 1")
endforeach()

if(failures)
  message(FATAL_ERROR "upward includes:\n${failures}")
endif()
message(STATUS "layers: no upward include")
