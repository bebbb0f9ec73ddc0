# Included into the main build by scripts/same_outputs.sh only (through
# CMAKE_PROJECT_INCLUDE): adds same_outputs_aid, which writes the small test
# inputs and runs the fuzz entries on given inputs.  Its sources come from
# the tree being built, so each commit's aid runs that commit's engine.
if(NOT DEFINED SAME_OUTPUTS_AID_SOURCE OR TARGET same_outputs_aid)
  return()
endif()

function(same_outputs_add_aid)
  add_executable(same_outputs_aid EXCLUDE_FROM_ALL ${SAME_OUTPUTS_AID_SOURCE}
                 ${CMAKE_SOURCE_DIR}/tests/support/builders.cpp ${CMAKE_SOURCE_DIR}/fuzz/entries.cpp)
  # Whatever libraries the engine is split into, patool's core pulls in all
  # that apply and the entries need; the others are named in case a commit
  # keeps something the core does not reach.
  set(libs patoolcore)
  foreach(lib engine discovery framework simmachine paproducer)
    if(TARGET ${lib})
      list(APPEND libs ${lib})
    endif()
  endforeach()
  target_link_libraries(same_outputs_aid PRIVATE ${libs} ${libs})
  # Not ours to tidy; its warnings belong to the fuzz build.
  set_source_files_properties(${CMAKE_SOURCE_DIR}/fuzz/entries.cpp PROPERTIES COMPILE_OPTIONS -w)
endfunction()

cmake_language(DEFER DIRECTORY ${CMAKE_SOURCE_DIR} CALL same_outputs_add_aid)
