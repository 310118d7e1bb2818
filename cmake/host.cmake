# The host build: the program's sources against our own Win32 subset in sim/.
find_package(PkgConfig REQUIRED)
find_package(yaml-cpp REQUIRED)
find_package(nlohmann_json REQUIRED)
pkg_check_modules(SNDFILE REQUIRED IMPORTED_TARGET sndfile)
find_package(Threads REQUIRED)

# The program sees only the Win32 headers; the world's own headers are for sim/ itself and for the
# host programs that drive the world (runner, tests, benchmarks, fuzz targets, Wine line converter).
set(WORLD_INCLUDES ${CMAKE_SOURCE_DIR}/sim/win32 ${CMAKE_SOURCE_DIR}/sim/world)

set(VUDIZERI_SANITIZE "" CACHE STRING "Sanitizers for the host build (address,undefined | thread)")
if(VUDIZERI_SANITIZE)
  add_compile_options(-fsanitize=${VUDIZERI_SANITIZE} -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=${VUDIZERI_SANITIZE})
endif()
if(VUDIZERI_FUZZ)
  include(cmake/fuzz.cmake)
endif()
# The coverage build (preset "coverage", scripts/coverage.sh): the program's code counted, unoptimised.
option(VUDIZERI_COVERAGE "Count the program's lines and branches (host only)" OFF)

# The program's resources, compiled by the same resource compiler as the Windows build and
# embedded in the host binaries, where sim/ finds its templates and icons.
find_program(WINDRES NAMES i686-w64-mingw32-windres REQUIRED)
set(RES_FILE ${CMAKE_BINARY_DIR}/vudizeri.res)
file(GLOB RES_DEPENDS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/res/*)
add_custom_command(OUTPUT ${RES_FILE}
  COMMAND ${WINDRES} -I ${CMAKE_SOURCE_DIR}/res -O res -o ${RES_FILE} ${CMAKE_SOURCE_DIR}/res/vudizeri.rc
  DEPENDS ${RES_DEPENDS} VERBATIM)
add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/program_res.cpp
  COMMAND ${CMAKE_COMMAND} -DIN=${RES_FILE} -DOUT=${CMAKE_BINARY_DIR}/program_res.cpp
          -P ${CMAKE_SOURCE_DIR}/cmake/embed.cmake
  DEPENDS ${RES_FILE} ${CMAKE_SOURCE_DIR}/cmake/embed.cmake VERBATIM)

file(GLOB SIM_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/sim/win32/*.cpp ${CMAKE_SOURCE_DIR}/sim/world/*.cpp)
add_library(sim STATIC ${SIM_SOURCES})
target_include_directories(sim PUBLIC ${CMAKE_SOURCE_DIR}/sim/include)
target_include_directories(sim PRIVATE ${WORLD_INCLUDES})
target_compile_options(sim PRIVATE -Wall -Wextra -Werror -Wno-unused-parameter)
target_link_libraries(sim PUBLIC yaml-cpp nlohmann_json::nlohmann_json PkgConfig::SNDFILE Threads::Threads)
# The world's and the tests' own sources all parse the same standard and JSON headers: parsed once per
# target. The program's sources never get them (they must include what they use, as on Windows).
set(HOST_COMMON_HEADERS <string> <vector> <map> <memory> <functional> <optional> <nlohmann/json.hpp>)
target_precompile_headers(sim PRIVATE ${HOST_COMMON_HEADERS})
# unity_groups(TARGET PATTERN GROUP...): TARGET's sources are compiled a group at a time, each group
# one translation unit (the headers and templates its files share are compiled once, about three
# times faster). A GROUP is "NAME:FILE FILE...", a file named by the PATTERN's @; a group holds files
# whose own file-local names do not clash, and a file in no group is compiled on its own.
function(unity_groups target pattern)
  foreach(group ${ARGN})
    string(REPLACE ":" ";" group ${group})
    list(GET group 0 name)
    list(GET group 1 files)
    string(REPLACE " " ";" files ${files})
    foreach(file ${files})
      string(REPLACE "@" ${file} path ${pattern})
      set_source_files_properties(${path} PROPERTIES UNITY_GROUP ${name})
    endforeach()
  endforeach()
  set_target_properties(${target} PROPERTIES UNITY_BUILD ON UNITY_BUILD_MODE GROUP)
endfunction()
# play.cpp, which calls the program's WinMain, stays on its own for what links the world without the
# program.
unity_groups(sim ${CMAKE_SOURCE_DIR}/sim/@.cpp
  "win32:win32/advapi32 win32/calls win32/dialogs win32/kernel32 win32/kernel32_device"
  "win32b:win32/kernel32_system win32/rasapi32 win32/user32 win32/winmm"
  "world:world/audio_report world/held world/resources world/scenario"
  "worldb:world/driver_double world/sound_card world/signal world/system"
  "worldc:world/driver_speaker world/world world/user")

# The program's resources belong to the program: another module (the conformance suite) brings its own.
add_library(program STATIC ${PROGRAM_SOURCES} ${CMAKE_BINARY_DIR}/program_res.cpp)
target_include_directories(program BEFORE PUBLIC ${CMAKE_SOURCE_DIR}/sim/include)
target_include_directories(program PUBLIC ${PROGRAM_INCLUDES})
target_compile_options(program PRIVATE ${PROGRAM_WARNINGS} -fno-exceptions)
target_link_libraries(program PUBLIC sim)
if(VUDIZERI_COVERAGE)
  # Every process that runs the program ends with _exit: the wrapper dumps the counters first.
  target_compile_options(program PRIVATE --coverage -O0)
  target_sources(program PRIVATE ${CMAKE_SOURCE_DIR}/tools/coverage_exit.cpp)
  target_link_options(program INTERFACE --coverage -Wl,--wrap=_exit)
endif()

add_executable(vudizeri-sim ${CMAKE_SOURCE_DIR}/tools/vudizeri_sim.cpp)
target_compile_options(vudizeri-sim PRIVATE -Wall -Wextra -Werror)
target_include_directories(vudizeri-sim PRIVATE ${WORLD_INCLUDES})
# The program and the world call each other (WinMain, window procedures): link them as a group.
target_link_libraries(vudizeri-sim PRIVATE -Wl,--start-group program sim -Wl,--end-group)

if(VUDIZERI_TESTS)
  enable_testing()
  find_package(GTest REQUIRED)
  include(GoogleTest)
  file(GLOB TEST_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/*.cpp)
  # The ThreadSanitizer build runs the threading suites (their names start with Threads) and builds
  # only the sources that hold them.
  if(VUDIZERI_SANITIZE STREQUAL "thread")
    list(FILTER TEST_SOURCES INCLUDE REGEX "/(support|test_[a-z_]*threads[a-z_]*)\\.cpp$")
  endif()
  add_executable(vudizeri-tests ${TEST_SOURCES} ${CMAKE_SOURCE_DIR}/tools/wine/heard.cpp)
  target_precompile_headers(vudizeri-tests PRIVATE ${HOST_COMMON_HEADERS} <gtest/gtest.h>)
  target_include_directories(vudizeri-tests PRIVATE ${CMAKE_SOURCE_DIR}/tests ${CMAKE_SOURCE_DIR}/tools/wine
    ${WORLD_INCLUDES})
  # The test code itself needs no speed (the world and the program it drives keep the preset's -O2):
  # -Og compiles it in two thirds of the time, and line tables (-g1) are all a failure's stack needs.
  target_compile_options(vudizeri-tests PRIVATE -Wall -Wextra -Werror -Wno-unused-parameter
    $<$<CONFIG:RelWithDebInfo>:-Og> -g1)
  unity_groups(vudizeri-tests ${CMAKE_SOURCE_DIR}/tests/test_@.cpp
    "world:sim_win32 threads_world speaker_layout speaker_threads user_language"
    "answers:dialogs_answers dialogs_templates status_poll_bundled status_poll_countdown"
    "dialogs:dialogs_world status_poll_states status_poll_warning speaker_call"
    "chores:chores_sim chores device_link"
    "units:chores_units power_sim power_units power scenario_files speaker_streams"
    "speaker:speaker_watch speaker_winmm"
    "wine:wine_fidelity wine_driver wine_lines wine_support"
    "wine_sound:wine_sound wine_long_call")
  target_compile_definitions(vudizeri-tests PRIVATE
    VUDIZERI_SOURCE_DIR="${CMAKE_SOURCE_DIR}" VUDIZERI_RUNNER="$<TARGET_FILE:vudizeri-sim>")
  target_link_libraries(vudizeri-tests PRIVATE -Wl,--start-group program sim -Wl,--end-group GTest::gtest_main)
  add_dependencies(vudizeri-tests vudizeri-sim)
  # The Wine suites run the harness's converters; the ThreadSanitizer build runs no Wine suite.
  if(NOT VUDIZERI_SANITIZE STREQUAL "thread")
    add_dependencies(vudizeri-tests vudizeri-wine-lines vudizeri-wine-audio vudizeri-wine-stalls)
  endif()
  # A test whose program hangs fails within a minute: the world's watchdog ends a run whose threads
  # neither wait nor let the clock move for 20 s, and no test of the world takes more than a minute.
  # The Wine suites start Wine and build its prefix: they keep ten minutes.
  if(VUDIZERI_SANITIZE STREQUAL "thread")
    gtest_discover_tests(vudizeri-tests TEST_FILTER "Threads*" DISCOVERY_TIMEOUT 60
      PROPERTIES LABELS threads TIMEOUT 60)
  else()
    gtest_discover_tests(vudizeri-tests TEST_FILTER "-Wine*" DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 60)
    gtest_discover_tests(vudizeri-tests TEST_FILTER "Wine*" DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 600)
    # The fault sweep's own checks (scripts/sweep.py), against this build's runner.
    add_test(NAME SweepJudge COMMAND python3 ${CMAKE_SOURCE_DIR}/tests/test_sweep.py $<TARGET_FILE:vudizeri-sim>)
  endif()
  # The tools' own checks do not depend on how this build was compiled: the plain build runs them.
  if(NOT VUDIZERI_SANITIZE)
    # The check of the built Windows programs (scripts/check_pe.sh), on small programs it must pass
    # and refuse.
    add_test(NAME CheckPe COMMAND ${CMAKE_SOURCE_DIR}/tests/test_check_pe.sh)
    # The mutation tool's own logic (scripts/mutants.py): it compiles a sample many times.
    add_test(NAME MutantsTool COMMAND python3 ${CMAKE_SOURCE_DIR}/tests/test_mutants.py)
    set_tests_properties(MutantsTool PROPERTIES TIMEOUT 300)
  endif()
  # The Win32 conformance suite in a fresh world (the Windows build runs the same checks under Wine).
  if(NOT VUDIZERI_SANITIZE STREQUAL "thread")
    add_test(NAME Conformance COMMAND vudizeri-conformance)
    set_tests_properties(Conformance PROPERTIES TIMEOUT 120)
    # And once on every version the program meets, each with the facts that differ there.
    foreach(windows 95 98 me nt4 2000 xp 2003 vista 7)
      add_test(NAME Conformance.${windows} COMMAND vudizeri-conformance --windows ${windows})
      set_tests_properties(Conformance.${windows} PROPERTIES TIMEOUT 120)
    endforeach()
  endif()

  find_package(benchmark QUIET)
  file(GLOB BENCH_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/bench/*.cpp)
  if(benchmark_FOUND AND BENCH_SOURCES)
    add_executable(vudizeri-bench ${BENCH_SOURCES})
    target_include_directories(vudizeri-bench PRIVATE ${WORLD_INCLUDES})
    target_link_libraries(vudizeri-bench PRIVATE -Wl,--start-group program sim -Wl,--end-group benchmark::benchmark)
  endif()
endif()

# The Win32 conformance suite (tests/conformance/): plain C checks against the documented API, run
# as the main thread of a fresh world, with dialog templates of its own (compiled and embedded as the
# program's are, in place of them).
set(CONF_DIR ${CMAKE_SOURCE_DIR}/tests/conformance)
file(GLOB CONF_SOURCES CONFIGURE_DEPENDS ${CONF_DIR}/*.c)
list(FILTER CONF_SOURCES EXCLUDE REGEX "windows_main\\.c$")
set(CONF_RES ${CMAKE_BINARY_DIR}/conformance.res)
add_custom_command(OUTPUT ${CONF_RES}
  COMMAND ${WINDRES} -I ${CONF_DIR} -I ${CMAKE_SOURCE_DIR}/res -O res -o ${CONF_RES} ${CONF_DIR}/conformance.rc
  DEPENDS ${CONF_DIR}/conformance.rc ${CONF_DIR}/conformance.h ${CMAKE_SOURCE_DIR}/res/vudizeri.ico VERBATIM)
add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/conformance_res.cpp
  COMMAND ${CMAKE_COMMAND} -DIN=${CONF_RES} -DOUT=${CMAKE_BINARY_DIR}/conformance_res.cpp
          -P ${CMAKE_SOURCE_DIR}/cmake/embed.cmake
  DEPENDS ${CONF_RES} ${CMAKE_SOURCE_DIR}/cmake/embed.cmake VERBATIM)
add_executable(vudizeri-conformance ${CONF_SOURCES} ${CONF_DIR}/world.cpp ${CMAKE_BINARY_DIR}/conformance_res.cpp)
target_include_directories(vudizeri-conformance BEFORE PRIVATE ${CMAKE_SOURCE_DIR}/sim/include)
target_include_directories(vudizeri-conformance PRIVATE ${WORLD_INCLUDES})
target_compile_options(vudizeri-conformance PRIVATE -Wall -Wextra -Werror -Wno-unused-parameter)
target_link_libraries(vudizeri-conformance PRIVATE sim)

# The Wine harness (tools/wine/): scenario files as the lines its controller plays.
add_executable(vudizeri-wine-lines ${CMAKE_SOURCE_DIR}/tools/wine/lines.cpp)
target_compile_options(vudizeri-wine-lines PRIVATE -Wall -Wextra -Werror)
target_include_directories(vudizeri-wine-lines PRIVATE ${WORLD_INCLUDES})
target_link_libraries(vudizeri-wine-lines PRIVATE -Wl,--start-group program sim -Wl,--end-group)

# What was heard and sent under Wine, from the harness's recordings: the Wine run's "audio" event.
add_executable(vudizeri-wine-audio ${CMAKE_SOURCE_DIR}/tools/wine/audio.cpp ${CMAKE_SOURCE_DIR}/tools/wine/heard.cpp)
target_compile_options(vudizeri-wine-audio PRIVATE -Wall -Wextra -Werror)
target_include_directories(vudizeri-wine-audio PRIVATE ${WORLD_INCLUDES})
target_link_libraries(vudizeri-wine-audio PRIVATE -Wl,--start-group program sim -Wl,--end-group)

# The machine's own stalls during a Wine run (a processor taken away by a virtual machine's host).
add_executable(vudizeri-wine-stalls ${CMAKE_SOURCE_DIR}/tools/wine/stalls.cpp)
target_compile_options(vudizeri-wine-stalls PRIVATE -Wall -Wextra -Werror)
target_link_libraries(vudizeri-wine-stalls PRIVATE Threads::Threads)
