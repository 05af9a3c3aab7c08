# Fails when a source file includes a header from a layer above its own, or
# a compiler header without its "tovix/" prefix.
# Layers, lowest first: compiler/src (included as "tovix/…"),
# server/src/workspace, server/src/features, server/src/core. Server headers
# are included by their folder ("workspace/document.h"), so the folder names
# the layer. Tests, benchmarks and fuzz targets stand above every layer.
# Run as: cmake -DROOT=<project root> -P tools/check_layers.cmake
set(layers workspace features core)
set(top 4)
set(failures "")

function(check_folder folder rank)
  file(GLOB_RECURSE files "${ROOT}/${folder}/*.h" "${ROOT}/${folder}/*.cpp")
  foreach(file ${files})
    file(RELATIVE_PATH rel "${ROOT}" "${file}")
    get_filename_component(dir "${file}" DIRECTORY)
    file(STRINGS "${file}" lines REGEX "^[ \t]*#[ \t]*include[ \t]*\"")
    foreach(line ${lines})
      string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*\"([^\"]*)\".*" "\\1" header "${line}")
      if(header MATCHES "^tovix/")
        continue()
      endif()
      # A bare name finds a compiler header beside a compiler file, or in
      # the compiler's folder as an include root.
      set(bare OFF)
      if(EXISTS "${dir}/${header}")
        file(REAL_PATH "${dir}/${header}" found)
        file(REAL_PATH "${ROOT}/compiler/src" compiler)
        cmake_path(IS_PREFIX compiler "${found}" NORMALIZE bare)
      elseif(EXISTS "${ROOT}/compiler/src/${header}")
        set(bare ON)
      endif()
      if(bare)
        set(failures "${failures}${rel}: includes the compiler header ${header} without \"tovix/\"\n")
      endif()
      set(i 1)
      foreach(layer ${layers})
        if(header MATCHES "^${layer}/" AND i GREATER rank)
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
foreach(folder compiler/tests server/tests bench fuzz)
  check_folder(${folder} ${top})
endforeach()

if(failures)
  message(FATAL_ERROR "include rule broken:\n${failures}")
endif()
message(STATUS "layers: no upward include, every compiler header included as \"tovix/…\"")
