# The fuzz targets (host only, clang): every target is built with libFuzzer's coverage and the Address
# and UndefinedBehavior sanitizers; the targets link libFuzzer's driver. -DVUDIZERI_FUZZ=ON with
# CMAKE_CXX_COMPILER=clang++ (the "fuzz" preset).
if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
  message(FATAL_ERROR "VUDIZERI_FUZZ needs clang++ (libFuzzer): set CMAKE_CXX_COMPILER=clang++")
endif()
add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=all)
add_link_options(-fsanitize=address,undefined)

add_executable(fuzz_status_poll ${CMAKE_SOURCE_DIR}/fuzz/fuzz_status_poll.cpp)
target_compile_options(fuzz_status_poll PRIVATE -Wall -Wextra -Werror -Wno-unused-parameter)
target_link_options(fuzz_status_poll PRIVATE -fsanitize=fuzzer)
target_include_directories(fuzz_status_poll PRIVATE ${WORLD_INCLUDES})
target_link_libraries(fuzz_status_poll PRIVATE -Wl,--start-group program sim -Wl,--end-group)
