# Prints the size of a built image: cmake -DIMAGE=path -P PrintImageSize.cmake
file(SIZE ${IMAGE} IMAGE_SIZE)
get_filename_component(IMAGE_NAME ${IMAGE} NAME)
message(STATUS "${IMAGE_NAME}: ${IMAGE_SIZE} bytes")
