# The catalogue of target fonts is data: its tables are made from
# discovery/catalogue.txt at build time, on the build host (also when
# cross-compiling), and a row that breaks a rule fails the build with its
# line.  The generated files are not committed.
find_package(Python3 REQUIRED COMPONENTS Interpreter)

# catalogue_sources(<sources var> <include dir var>): adds the rule that
# makes the catalogue's sources in this build folder and names them, with the
# folder to add to the include path for "discovery/catalogue_counts.h".
function(catalogue_sources sources_var include_var)
  set(root ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/..)
  set(dir ${CMAKE_CURRENT_BINARY_DIR}/generated)
  set(outputs ${dir}/discovery/catalogue.cpp ${dir}/discovery/catalogue_counts.h)
  add_custom_command(
    OUTPUT ${outputs}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${dir}/discovery
    COMMAND Python3::Interpreter ${root}/cmake/make_catalogue.py ${root}/discovery/catalogue.txt ${outputs}
    DEPENDS ${root}/discovery/catalogue.txt ${root}/cmake/make_catalogue.py
    COMMENT "Making the catalogue from discovery/catalogue.txt"
    VERBATIM)
  set(${sources_var} ${outputs} PARENT_SCOPE)
  set(${include_var} ${dir} PARENT_SCOPE)
endfunction()
