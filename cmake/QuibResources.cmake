# The library's resources: resources/resources.manifest lists them, and
# quib_add_resource adds generated ones from anywhere in the build, e.g.
#
#   quib_add_resource(TYPE TYPELIB ID 1 LANGUAGE 1033
#                     FILE ${CMAKE_CURRENT_BINARY_DIR}/quibvoicerec.tlb DEPENDS my_typelib_target)
#
# FILE is an absolute path; DEPENDS names the targets or files that make it.
# ENCODING "version" encodes a version text instead of storing the bytes.
# At the end of configuration quib_rescomp compiles them all into one source
# of quibvoicerec_objects (format: docs/resources.md).
function(quib_add_resource)
  cmake_parse_arguments(ARG "" "TYPE;ID;LANGUAGE;FILE;ENCODING" "DEPENDS" ${ARGN})
  if(NOT ARG_TYPE OR NOT ARG_ID OR NOT DEFINED ARG_LANGUAGE OR NOT ARG_FILE)
    message(FATAL_ERROR "quib_add_resource needs TYPE, ID, LANGUAGE and FILE")
  endif()
  if(NOT IS_ABSOLUTE "${ARG_FILE}")
    set(ARG_FILE "${CMAKE_CURRENT_SOURCE_DIR}/${ARG_FILE}")
  endif()
  set_property(GLOBAL APPEND PROPERTY QUIB_EXTRA_RESOURCES
    "${ARG_TYPE} ${ARG_ID} ${ARG_LANGUAGE} ${ARG_FILE} ${ARG_ENCODING}")
  set_property(GLOBAL APPEND PROPERTY QUIB_EXTRA_RESOURCE_DEPENDS ${ARG_FILE} ${ARG_DEPENDS})
  foreach(dep IN LISTS ARG_DEPENDS)
    if(TARGET ${dep})
      set_property(GLOBAL APPEND PROPERTY QUIB_EXTRA_RESOURCE_TARGETS ${dep})
    endif()
  endforeach()
endfunction()

# The command that runs a build-time tool of this build. CMake puts the
# emulator before a tool's target name only when cross compiling, which the
# m32 build (same system, other processor mode) is not.
function(quib_tool_command out tool)
  if(CMAKE_CROSSCOMPILING_EMULATOR AND NOT CMAKE_CROSSCOMPILING)
    set(${out} ${CMAKE_CROSSCOMPILING_EMULATOR} $<TARGET_FILE:${tool}> PARENT_SCOPE)
  else()
    set(${out} ${tool} PARENT_SCOPE)
  endif()
endfunction()

# Called from resources/: compiles that manifest once the whole build is known.
function(quib_resources_from_manifest manifest)
  set_property(GLOBAL PROPERTY QUIB_RESOURCE_MANIFEST ${manifest})
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${manifest})
  cmake_language(DEFER DIRECTORY ${PROJECT_SOURCE_DIR} CALL _quib_generate_resources)
endfunction()

function(_quib_generate_resources)
  get_property(manifest GLOBAL PROPERTY QUIB_RESOURCE_MANIFEST)
  get_property(extra GLOBAL PROPERTY QUIB_EXTRA_RESOURCES)
  get_property(extraDepends GLOBAL PROPERTY QUIB_EXTRA_RESOURCE_DEPENDS)
  get_property(extraTargets GLOBAL PROPERTY QUIB_EXTRA_RESOURCE_TARGETS)
  get_filename_component(base ${manifest} DIRECTORY)
  # The files the manifest names: the fourth field of each line.
  set(files)
  file(STRINGS ${manifest} lines)
  foreach(line IN LISTS lines)
    string(REGEX REPLACE "#.*" "" line "${line}")
    string(STRIP "${line}" line)
    if(line STREQUAL "")
      continue()
    endif()
    string(REGEX REPLACE "[ \t]+" ";" fields "${line}")
    list(LENGTH fields count)
    if(count GREATER_EQUAL 4)
      list(GET fields 3 file)
      if(NOT IS_ABSOLUTE "${file}")
        set(file "${base}/${file}")
      endif()
      list(APPEND files ${file})
    endif()
  endforeach()
  set(args)
  foreach(entry IN LISTS extra)
    list(APPEND args --add "${entry}")
  endforeach()
  set(output ${PROJECT_BINARY_DIR}/resources/quib_resources.cpp)
  quib_tool_command(rescomp quib_rescomp)
  add_custom_command(OUTPUT ${output}
    COMMAND ${rescomp} --manifest ${manifest} --output ${output} ${args}
    DEPENDS quib_rescomp ${manifest} ${files} ${extraDepends}
    COMMENT "Compiling the library's resources"
    VERBATIM)
  target_sources(quibvoicerec_objects PRIVATE ${output})
  if(extraTargets)
    add_dependencies(quibvoicerec_objects ${extraTargets})
  endif()
endfunction()
