# Compiles the resource script with the MinGW-w64 resource compiler.  The
# Windows build links the result into the executable; the native build embeds
# the very same compiled bytes, so the simulated machine loads exactly what
# Windows will load.
find_program(WINDRES NAMES x86_64-w64-mingw32-windres windres REQUIRED)
find_package(Python3 REQUIRED COMPONENTS Interpreter)

set(RES_DIR ${CMAKE_BINARY_DIR}/res)
file(MAKE_DIRECTORY ${RES_DIR})

# The manifest carries the version of res/version.h, the one place that
# holds it.
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/res/version.h)
file(STRINGS ${CMAKE_SOURCE_DIR}/res/version.h UPD_VERSION_LINES REGEX "^#define UPD_VERSION_(MAJOR|MINOR) [0-9]+$")
foreach(line IN LISTS UPD_VERSION_LINES)
  if(line MATCHES "^#define UPD_VERSION_(MAJOR|MINOR) ([0-9]+)$")
    set(UPD_VERSION_${CMAKE_MATCH_1} ${CMAKE_MATCH_2})
  endif()
endforeach()
if(NOT DEFINED UPD_VERSION_MAJOR OR NOT DEFINED UPD_VERSION_MINOR)
  message(FATAL_ERROR "res/version.h: no UPD_VERSION_MAJOR or UPD_VERSION_MINOR")
endif()
set(UPD_MANIFEST_VERSION ${UPD_VERSION_MAJOR}.${UPD_VERSION_MINOR}.0.0)
configure_file(${CMAKE_SOURCE_DIR}/res/upd.manifest.in ${RES_DIR}/upd.manifest @ONLY)
add_custom_command(
  OUTPUT ${RES_DIR}/updater.ico
  COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/res/make_icon.py ${RES_DIR}/updater.ico
  DEPENDS ${CMAKE_SOURCE_DIR}/res/make_icon.py)
add_custom_command(
  OUTPUT ${RES_DIR}/updater.res
  COMMAND ${WINDRES} -c 65001 -I ${CMAKE_SOURCE_DIR}/res -I ${RES_DIR}
          -i ${CMAKE_SOURCE_DIR}/res/updater.rc -O res -o ${RES_DIR}/updater.res
  DEPENDS ${CMAKE_SOURCE_DIR}/res/updater.rc ${CMAKE_SOURCE_DIR}/res/resource.h ${CMAKE_SOURCE_DIR}/res/version.h
          ${RES_DIR}/updater.ico ${RES_DIR}/upd.manifest
  WORKING_DIRECTORY ${RES_DIR})
add_custom_target(resources DEPENDS ${RES_DIR}/updater.res)
set(COMPILED_RESOURCES ${RES_DIR}/updater.res)
