# Compiles the resource script with the MinGW-w64 resource compiler.  The
# Windows build links the result into the executable; the native build embeds
# the very same compiled bytes, so the simulated machine loads exactly what
# Windows will load.
find_program(WINDRES NAMES x86_64-w64-mingw32-windres windres REQUIRED)
find_package(Python3 REQUIRED COMPONENTS Interpreter)

set(RES_DIR ${CMAKE_BINARY_DIR}/res)
file(MAKE_DIRECTORY ${RES_DIR})
add_custom_command(
  OUTPUT ${RES_DIR}/updater.ico
  COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/res/make_icon.py ${RES_DIR}/updater.ico
  DEPENDS ${CMAKE_SOURCE_DIR}/res/make_icon.py)
add_custom_command(
  OUTPUT ${RES_DIR}/updater.res
  COMMAND ${WINDRES} -c 65001 -I ${CMAKE_SOURCE_DIR}/res -I ${RES_DIR}
          -i ${CMAKE_SOURCE_DIR}/res/updater.rc -O res -o ${RES_DIR}/updater.res
  DEPENDS ${CMAKE_SOURCE_DIR}/res/updater.rc ${CMAKE_SOURCE_DIR}/res/resource.h ${RES_DIR}/updater.ico
  WORKING_DIRECTORY ${RES_DIR})
add_custom_target(resources DEPENDS ${RES_DIR}/updater.res)
set(COMPILED_RESOURCES ${RES_DIR}/updater.res)
