# The library's layers, each a static library of its own, dependencies
# pointing one way only:
#   runtime -> transport -> protocol -> synth -> output -> lifecycle -> api
# (the synthesis engine depends on the runtime alone), and beside them
#   runtime -> formats -> api
# (the ECG file readers, which the record library links too), all above the
# public headers of include/hsim/. The shared library is made of the objects
# of all of them.

# hsim_layer(<name> SOURCES <files> [DEPENDS <lower layers>])
function(hsim_layer name)
  cmake_parse_arguments(L "" "" "SOURCES;DEPENDS" ${ARGN})
  set(target hsim_${name})
  add_library(${target} STATIC ${L_SOURCES})
  target_compile_definitions(${target} PRIVATE HSIM_BUILDING_LIBRARY)
  set_target_properties(${target} PROPERTIES
    CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON)
  # Formulas are evaluated exactly in the order written, with no fused
  # multiply-add contraction (GCC contracts by default on 64-bit Arm), so
  # every build gives the same samples and words.
  target_compile_options(${target} PRIVATE -ffp-contract=off)
  target_include_directories(${target} PUBLIC ${PROJECT_SOURCE_DIR} ${HSIM_PUBLIC_INCLUDE_DIRS})
  set(deps)
  foreach(dep ${L_DEPENDS})
    list(APPEND deps hsim_${dep})
  endforeach()
  target_link_libraries(${target} PUBLIC ${deps} Threads::Threads)
  add_dependencies(${target} hsim_check_layers)
  set_property(GLOBAL APPEND PROPERTY HSIM_LAYER_TARGETS ${target})
endfunction()

# The include check: a layer includes only its own and lower layers' headers,
# only the exported API includes the public function headers, and the public
# headers (include/hsim/, below every layer) include no layer. It runs before
# any layer compiles, so a wrong include fails the build.
file(GLOB_RECURSE _hsim_layer_sources CONFIGURE_DEPENDS
  ${PROJECT_SOURCE_DIR}/runtime/* ${PROJECT_SOURCE_DIR}/formats/*
  ${PROJECT_SOURCE_DIR}/transport/* ${PROJECT_SOURCE_DIR}/protocol/*
  ${PROJECT_SOURCE_DIR}/synth/* ${PROJECT_SOURCE_DIR}/output/* ${PROJECT_SOURCE_DIR}/lifecycle/*
  ${PROJECT_SOURCE_DIR}/api/* ${PROJECT_SOURCE_DIR}/include/hsim/*)
add_custom_command(
  OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/hsim_layers.checked
  COMMAND ${CMAKE_COMMAND} -DSOURCE_DIR=${PROJECT_SOURCE_DIR} -P ${PROJECT_SOURCE_DIR}/cmake/CheckLayers.cmake
  COMMAND ${CMAKE_COMMAND} -E touch ${CMAKE_CURRENT_BINARY_DIR}/hsim_layers.checked
  DEPENDS ${_hsim_layer_sources} ${PROJECT_SOURCE_DIR}/cmake/CheckLayers.cmake
  COMMENT "Checking the includes of the library's layers")
add_custom_target(hsim_check_layers DEPENDS ${CMAKE_CURRENT_BINARY_DIR}/hsim_layers.checked)
