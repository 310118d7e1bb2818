# The real Windows program, cross-compiled with mingw-w64.
enable_language(RC)
add_executable(vudizeri WIN32 ${PROGRAM_SOURCES} ${CMAKE_SOURCE_DIR}/res/vudizeri.rc)
target_include_directories(vudizeri PRIVATE ${PROGRAM_INCLUDES})
target_compile_options(vudizeri PRIVATE ${PROGRAM_WARNINGS} -fno-exceptions -fno-rtti
  $<$<COMPILE_LANGUAGE:CXX>:-Os>)
target_compile_definitions(vudizeri PRIVATE WINVER=0x0500 _WIN32_WINNT=0x0500)
# Statically linked runtime: the .exe needs nothing but the system's own DLLs.
target_link_options(vudizeri PRIVATE -static -static-libgcc -static-libstdc++ -s)
target_link_libraries(vudizeri PRIVATE user32 gdi32 kernel32 advapi32 winmm rasapi32)
set_target_properties(vudizeri PROPERTIES OUTPUT_NAME vudizeri)

# The Win32 conformance suite: the checks the host build runs in the world, as a console program
# that imports only the system's own DLLs.
set(CONF_DIR ${CMAKE_SOURCE_DIR}/tests/conformance)
file(GLOB CONF_SOURCES CONFIGURE_DEPENDS ${CONF_DIR}/*.c)
add_executable(vudizeri-conformance ${CONF_SOURCES} ${CONF_DIR}/conformance.rc)
target_include_directories(vudizeri-conformance PRIVATE ${CONF_DIR} ${CMAKE_SOURCE_DIR}/res)
target_compile_options(vudizeri-conformance PRIVATE -Wall -Wextra -Werror -Wno-unused-parameter -O2)
target_compile_definitions(vudizeri-conformance PRIVATE WINVER=0x0500 _WIN32_WINNT=0x0500)
target_link_options(vudizeri-conformance PRIVATE -static -static-libgcc -s)
target_link_libraries(vudizeri-conformance PRIVATE user32 gdi32 kernel32 advapi32 winmm rasapi32)
