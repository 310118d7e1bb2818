# The real Windows program, cross-compiled with mingw-w64.
enable_language(RC)
# Its users run Windows 95, 98, Me, NT 4, 2000 and XP on the processors those systems ask for, the
# oldest an 80386: the i686 program holds only 80386 instructions, and it links no C runtime (retail
# Windows 95 has no C runtime DLL, and the compiler's start-up code is built for newer processors).
# app/entry/ holds its process entry and the memory fill and copy the compiler may call.
add_executable(vudizeri WIN32 ${PROGRAM_SOURCES} ${CMAKE_SOURCE_DIR}/app/entry/process_entry.cpp
  ${CMAKE_SOURCE_DIR}/res/vudizeri.rc)
target_include_directories(vudizeri PRIVATE ${PROGRAM_INCLUDES})
target_compile_options(vudizeri PRIVATE ${PROGRAM_WARNINGS} -fno-exceptions -fno-rtti
  -fno-asynchronous-unwind-tables $<$<COMPILE_LANGUAGE:CXX>:-Os>)
if(CMAKE_SYSTEM_PROCESSOR STREQUAL "i686")
  target_compile_options(vudizeri PRIVATE $<$<COMPILE_LANGUAGE:CXX>:-march=i386>)
endif()
set_source_files_properties(${CMAKE_SOURCE_DIR}/app/entry/process_entry.cpp PROPERTIES
  COMPILE_OPTIONS "-fno-builtin;-fno-tree-loop-distribute-patterns")
# The headers of the oldest systems: the compiler refuses what Windows 95 and NT 4 lack.
target_compile_definitions(vudizeri PRIVATE WINVER=0x0400 _WIN32_WINNT=0x0400 _WIN32_WINDOWS=0x0400)
# Nothing but the system's own DLLs, and the compiler's own helpers (libgcc) where it needs them.
target_link_options(vudizeri PRIVATE -nostdlib -static -s)
target_link_libraries(vudizeri PRIVATE user32 gdi32 kernel32 advapi32 winmm rasapi32 gcc)
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
