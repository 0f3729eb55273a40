cmake_minimum_required(VERSION 3.20)
# Checks the include lines of the library's layers against their order, and
# those of the public headers below them.
# usage: cmake -DSOURCE_DIR=<project root> -P CheckLayers.cmake
# Fails with one line per wrong include.
set(layers runtime formats transport protocol synth output lifecycle api)
# What each layer may include besides the public type headers. The synthesis
# engine is pure computation: it sees the runtime, not the device and not the
# files. The ECG file readers sit on the runtime alone, and only the exported
# loaders read files through them.
set(allowed_runtime runtime)
set(allowed_formats runtime formats)
set(allowed_transport runtime transport)
set(allowed_protocol runtime transport protocol)
set(allowed_synth runtime synth)
set(allowed_output runtime transport protocol synth output)
set(allowed_lifecycle runtime transport protocol synth output lifecycle)
set(allowed_api runtime formats transport protocol synth output lifecycle api)
# The public headers: include/hsim/, below every layer, and hsim_version.h,
# which the build generates beside them. Those that hold types only are open
# to every layer; the others declare the exported functions and are for the
# exported API alone (a new public header counts as one of those until it is
# listed here).
set(type_headers hsim_types.h hsim_events.hpp hsim_version.h)
file(GLOB public_files RELATIVE ${SOURCE_DIR}/include/hsim ${SOURCE_DIR}/include/hsim/*)
set(public_headers hsim_version.h ${public_files})
set(include_regex "^[ \t]*#[ \t]*include[ \t]*([\"<])([^\">]+)[\">].*")

# The header as it was written: <name> or "name".
function(quoted out delimiter header)
  if(delimiter STREQUAL "<")
    set(${out} "<${header}>" PARENT_SCOPE)
  else()
    set(${out} "\"${header}\"" PARENT_SCOPE)
  endif()
endfunction()

set(errors "")
foreach(layer ${layers})
  file(GLOB_RECURSE files ${SOURCE_DIR}/${layer}/*.h ${SOURCE_DIR}/${layer}/*.hpp ${SOURCE_DIR}/${layer}/*.cpp)
  foreach(file ${files})
    file(STRINGS ${file} lines REGEX "^[ \t]*#[ \t]*include[ \t]*[\"<]")
    file(RELATIVE_PATH where ${SOURCE_DIR} ${file})
    foreach(line ${lines})
      string(REGEX REPLACE "${include_regex}" "\\1" delimiter "${line}")
      string(REGEX REPLACE "${include_regex}" "\\2" header "${line}")
      set(ok FALSE)
      if(header MATCHES "^([A-Za-z0-9_]+)/")
        if(CMAKE_MATCH_1 IN_LIST allowed_${layer})
          set(ok TRUE)
        elseif(delimiter STREQUAL "<" AND NOT CMAKE_MATCH_1 IN_LIST layers)
          set(ok TRUE)  # a system header
        endif()
      elseif(header IN_LIST public_headers)
        if(header IN_LIST type_headers OR layer STREQUAL "api")
          set(ok TRUE)
        endif()
      elseif(delimiter STREQUAL "<")
        set(ok TRUE)  # a system header
      elseif(layer STREQUAL "synth" AND header MATCHES "^hsim_[a-z0-9_]+\\.(inc|h)$")
        set(ok TRUE)  # the tables the build generates from the standard data
      endif()
      if(NOT ok)
        quoted(header "${delimiter}" "${header}")
        string(APPEND errors "${where}: #include ${header} is not allowed in the ${layer} layer\n")
      endif()
    endforeach()
  endforeach()
endforeach()

# The public headers include only each other (and system headers), never a
# layer; a type header includes only type headers, so the layers that see the
# types do not see the functions.
foreach(name ${public_files})
  file(STRINGS ${SOURCE_DIR}/include/hsim/${name} lines REGEX "^[ \t]*#[ \t]*include[ \t]*[\"<]")
  foreach(line ${lines})
    string(REGEX REPLACE "${include_regex}" "\\1" delimiter "${line}")
    string(REGEX REPLACE "${include_regex}" "\\2" header "${line}")
    set(ok FALSE)
    if(header MATCHES "^([A-Za-z0-9_]+)/")
      if(delimiter STREQUAL "<" AND NOT CMAKE_MATCH_1 IN_LIST layers)
        set(ok TRUE)  # a system header
      endif()
    elseif(header IN_LIST public_headers)
      if(header IN_LIST type_headers OR NOT name IN_LIST type_headers)
        set(ok TRUE)
      endif()
    elseif(delimiter STREQUAL "<")
      set(ok TRUE)
    endif()
    if(NOT ok)
      quoted(header "${delimiter}" "${header}")
      string(APPEND errors "include/hsim/${name}: #include ${header} is not allowed in a public header\n")
    endif()
  endforeach()
endforeach()
if(errors)
  message(FATAL_ERROR "wrong includes:\n${errors}")
endif()
