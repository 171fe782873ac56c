# The network companion's sources built for the host, and its suite on the firmware double. Its files are
# globbed, so that a part added to the companion is tested without an edit here.
file(GLOB TOLVANE_NETWORK_SETUP_SOURCES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/Driver/TolvaneNetworkSetup/*.cpp)
add_library(TolvaneNetworkSetupHost STATIC ${TOLVANE_NETWORK_SETUP_SOURCES})
target_include_directories(TolvaneNetworkSetupHost PRIVATE ${PROJECT_SOURCE_DIR}/Driver/TolvaneNetworkSetup)
target_link_libraries(TolvaneNetworkSetupHost PUBLIC TolvaneLibrary)
target_compile_options(TolvaneNetworkSetupHost PRIVATE ${TOLVANE_WARNINGS})

add_executable(TolvaneNetworkSetupTests ${CMAKE_CURRENT_LIST_DIR}/NetworkSetupTests.cpp)
target_link_libraries(TolvaneNetworkSetupTests PRIVATE TolvaneNetworkSetupHost TolvaneFirmwareDouble GTest::gtest_main)
target_compile_options(TolvaneNetworkSetupTests PRIVATE ${TOLVANE_WARNINGS}
  # GCC 12 reports false overlaps inside libstdc++\'s string code at -O3 (GCC bug 105329).
  $<$<CXX_COMPILER_ID:GNU>:-Wno-restrict>)
gtest_discover_tests(TolvaneNetworkSetupTests DISCOVERY_TIMEOUT 120)
