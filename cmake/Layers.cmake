# The three layers of the driver, in their order; each target links only the one below it.
add_subdirectory(${PROJECT_SOURCE_DIR}/Library ${PROJECT_BINARY_DIR}/Library)
add_subdirectory(${PROJECT_SOURCE_DIR}/Configuration ${PROJECT_BINARY_DIR}/Configuration)
add_subdirectory(${PROJECT_SOURCE_DIR}/Driver/TolvaneService ${PROJECT_BINARY_DIR}/Driver/TolvaneService)
