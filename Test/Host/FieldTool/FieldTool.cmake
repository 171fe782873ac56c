# The field tool's suite: its commands run from ToolMain on the firmware double, with the service beside it.
add_executable(TolvaneFieldToolTests ${CMAKE_CURRENT_LIST_DIR}/FieldToolTests.cpp)
target_link_libraries(TolvaneFieldToolTests PRIVATE TolvaneToolCommands TolvaneFirmwareDouble GTest::gtest_main)
target_compile_options(TolvaneFieldToolTests PRIVATE ${TOLVANE_WARNINGS}
  # GCC 12 reports false overlaps inside libstdc++\'s string code at -O3 (GCC bug 105329).
  $<$<CXX_COMPILER_ID:GNU>:-Wno-restrict>)
gtest_discover_tests(TolvaneFieldToolTests DISCOVERY_TIMEOUT 120)
