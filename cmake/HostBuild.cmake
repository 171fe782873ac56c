# The host build: the layers as static libraries, with tests, fuzzers, benchmarks and tools.
option(TOLVANE_SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)
option(TOLVANE_FUZZ "Build the libFuzzer targets (clang only)" OFF)
option(TOLVANE_BENCHMARKS "Build the benchmarks" ON)
option(TOLVANE_TESTS "Build the host tests (OFF: the tools need only CLI11 and nlohmann-json)" ON)

set(TOLVANE_WARNINGS -Wall -Wextra -Werror -Wshadow -Wno-unknown-pragmas)

if(TOLVANE_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()
if(TOLVANE_FUZZ)
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()

include(${CMAKE_CURRENT_LIST_DIR}/Layers.cmake)

# The field tool's firmware-free argument checks, for the host tests.
add_subdirectory(Applications/TolvaneTool)

enable_testing()
if(TOLVANE_TESTS)
  add_subdirectory(Test/Host)
endif()
if(TOLVANE_FUZZ)
  add_subdirectory(Test/Fuzz)
endif()
if(TOLVANE_BENCHMARKS AND NOT TOLVANE_SANITIZE AND NOT TOLVANE_FUZZ AND EXISTS ${PROJECT_SOURCE_DIR}/Benchmarks/CMakeLists.txt)
  add_subdirectory(Benchmarks)
endif()
if(EXISTS ${PROJECT_SOURCE_DIR}/Tools/CMakeLists.txt)
  add_subdirectory(Tools)
endif()
