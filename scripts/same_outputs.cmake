# Included into the main build by scripts/same_outputs.sh only (through
# CMAKE_PROJECT_INCLUDE): adds same_outputs_aid, which writes the small test
# inputs and runs the fuzz entries on given inputs.  Its sources come from
# the tree being built, so each commit's aid runs that commit's engine.
if(NOT DEFINED SAME_OUTPUTS_AID_SOURCE OR TARGET same_outputs_aid)
  return()
endif()

# Every static library of the build, whatever the commit splits the engine
# into: the linker keeps only what the aid uses.
function(same_outputs_static_libraries dir out)
  set(found)
  get_property(targets DIRECTORY ${dir} PROPERTY BUILDSYSTEM_TARGETS)
  foreach(t ${targets})
    get_target_property(type ${t} TYPE)
    if(type STREQUAL "STATIC_LIBRARY")
      list(APPEND found ${t})
    endif()
  endforeach()
  get_property(subdirs DIRECTORY ${dir} PROPERTY SUBDIRECTORIES)
  foreach(sub ${subdirs})
    same_outputs_static_libraries(${sub} more)
    list(APPEND found ${more})
  endforeach()
  set(${out} ${found} PARENT_SCOPE)
endfunction()

function(same_outputs_add_aid)
  add_executable(same_outputs_aid EXCLUDE_FROM_ALL ${SAME_OUTPUTS_AID_SOURCE}
                 ${CMAKE_SOURCE_DIR}/tests/support/builders.cpp ${CMAKE_SOURCE_DIR}/fuzz/entries.cpp)
  same_outputs_static_libraries(${CMAKE_SOURCE_DIR} libs)
  # Named twice: static libraries that need each other resolve either way.
  target_link_libraries(same_outputs_aid PRIVATE ${libs} ${libs})
  # Not ours to tidy; its warnings belong to the fuzz build.
  set_source_files_properties(${CMAKE_SOURCE_DIR}/fuzz/entries.cpp PROPERTIES COMPILE_OPTIONS -w)
endfunction()

cmake_language(DEFER DIRECTORY ${CMAKE_SOURCE_DIR} CALL same_outputs_add_aid)
