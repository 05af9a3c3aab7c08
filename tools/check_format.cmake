# Fails when a C++ file of the project is not as clang-format would write it
# (the style is the root's .clang-format), listing those files.
# Checked: every *.h and *.cpp git knows of (tracked, or new and not
# ignored), or, outside a git checkout, every one under the source folders.
# The generated Roblox class table is left as its generator writes it.
# Run as: cmake -DROOT=<project root> -DCLANG_FORMAT=<clang-format> -P tools/check_format.cmake
cmake_minimum_required(VERSION 3.25)
set(fix "git ls-files '*.h' '*.cpp' | grep -v roblox/generated | xargs clang-format -i")

if(NOT CLANG_FORMAT OR NOT EXISTS "${CLANG_FORMAT}")
  message(FATAL_ERROR "clang-format not found, so the formatting cannot be checked: install the Debian package "
                      "clang-format (tools/setup.sh does), then configure again")
endif()
if(NOT EXISTS "${ROOT}/.clang-format")
  message(FATAL_ERROR "${ROOT}/.clang-format is missing")
endif()

set(files "")
find_program(GIT git)
if(GIT)
  execute_process(COMMAND "${GIT}" ls-files --cached --others --exclude-standard -- "*.h" "*.cpp"
                  WORKING_DIRECTORY "${ROOT}" RESULT_VARIABLE git_result OUTPUT_VARIABLE listed ERROR_QUIET
                  OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(git_result EQUAL 0)
    string(REPLACE "\n" ";" files "${listed}")
  endif()
endif()
if(NOT files)
  foreach(folder compiler server bench fuzz)
    file(GLOB_RECURSE found RELATIVE "${ROOT}" "${ROOT}/${folder}/*.h" "${ROOT}/${folder}/*.cpp")
    list(APPEND files ${found})
  endforeach()
endif()
list(FILTER files EXCLUDE REGEX "^compiler/src/roblox/generated\\.(h|cpp)$")
# A file deleted but not yet staged is still listed.
set(present "")
foreach(file ${files})
  if(EXISTS "${ROOT}/${file}")
    list(APPEND present "${file}")
  endif()
endforeach()
list(REMOVE_DUPLICATES present)
list(LENGTH present count)
if(count EQUAL 0)
  message(FATAL_ERROR "no C++ file found under ${ROOT}")
endif()

# One report per file is enough to name it.
execute_process(COMMAND "${CLANG_FORMAT}" --style=file --dry-run --Werror --ferror-limit=1 ${present}
                WORKING_DIRECTORY "${ROOT}" RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(result EQUAL 0)
  message(STATUS "format: the ${count} C++ files are formatted")
  return()
endif()

string(REGEX MATCHALL "[^\n]+:[0-9]+:[0-9]+: error: code should be clang-formatted" reports "${err}")
set(unformatted "")
foreach(report ${reports})
  string(REGEX REPLACE ":[0-9]+:[0-9]+: error: code should be clang-formatted$" "" file "${report}")
  list(APPEND unformatted "${file}")
endforeach()
list(REMOVE_DUPLICATES unformatted)
if(NOT unformatted)
  message(FATAL_ERROR "clang-format failed (exit ${result}):\n${err}")
endif()

list(LENGTH unformatted bad)
list(JOIN unformatted "\n  " listing)
execute_process(COMMAND "${CLANG_FORMAT}" --version OUTPUT_VARIABLE version OUTPUT_STRIP_TRAILING_WHITESPACE)
set(note "")
if(NOT version MATCHES "version 14\\.")
  string(CONCAT note "\nnote: this is ${version}; the style is kept with clang-format 14 (Debian 12), and "
                     "other versions may format some code differently")
endif()
message(FATAL_ERROR "${bad} of ${count} C++ files are not formatted:\n  ${listing}\n"
                    "Format them with clang-format -i, or the whole tree with:\n  ${fix}${note}")
