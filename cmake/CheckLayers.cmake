cmake_minimum_required(VERSION 3.20)
# Checks the include lines of the library's layers against their order.
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
# Public headers that hold types only, open to every layer; the headers that
# declare the exported functions are for the exported API alone.
set(type_headers hsim_types.h hsim_events.hpp hsim_version.h)
set(function_headers hsim.h hsim.hpp hsim_ext.h)

set(errors "")
foreach(layer ${layers})
  file(GLOB_RECURSE files ${SOURCE_DIR}/${layer}/*.h ${SOURCE_DIR}/${layer}/*.hpp ${SOURCE_DIR}/${layer}/*.cpp)
  foreach(file ${files})
    file(STRINGS ${file} lines REGEX "^[ \t]*#[ \t]*include[ \t]*\"")
    file(RELATIVE_PATH where ${SOURCE_DIR} ${file})
    foreach(line ${lines})
      string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*\"([^\"]+)\".*" "\\1" header "${line}")
      set(ok FALSE)
      if(header MATCHES "^([A-Za-z0-9_]+)/")
        if(CMAKE_MATCH_1 IN_LIST allowed_${layer})
          set(ok TRUE)
        endif()
      elseif(header IN_LIST type_headers)
        set(ok TRUE)
      elseif(header IN_LIST function_headers)
        if(layer STREQUAL "api")
          set(ok TRUE)
        endif()
      elseif(layer STREQUAL "synth" AND header MATCHES "^hsim_[a-z0-9_]+\\.(inc|h)$")
        set(ok TRUE)  # the tables the build generates from the standard data
      endif()
      if(NOT ok)
        string(APPEND errors "${where}: #include \"${header}\" is not allowed in the ${layer} layer\n")
      endif()
    endforeach()
  endforeach()
endforeach()
if(errors)
  message(FATAL_ERROR "wrong includes:\n${errors}")
endif()
