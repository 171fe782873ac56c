# Freestanding x86-64 UEFI images: clang++ for PE/COFF objects, lld-link for the image.
set(CMAKE_SYSTEM_NAME Generic)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(TOLVANE_FIRMWARE ON)

set(CMAKE_C_COMPILER clang)
set(CMAKE_CXX_COMPILER clang++)
set(CMAKE_C_COMPILER_TARGET x86_64-unknown-windows)
set(CMAKE_CXX_COMPILER_TARGET x86_64-unknown-windows)
# The compiler checks cannot link a hosted program for this target.
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)

find_program(TOLVANE_LLD_LINK NAMES lld-link lld-link-14 REQUIRED)
find_program(TOLVANE_LLVM_AR NAMES llvm-ar llvm-ar-14 REQUIRED)
set(CMAKE_AR ${TOLVANE_LLVM_AR})
set(CMAKE_LINKER ${TOLVANE_LLD_LINK})

set(TOLVANE_FIRMWARE_FLAGS
    "--target=x86_64-unknown-windows -ffreestanding -fno-exceptions -fno-rtti -fno-stack-protector -mno-red-zone -fno-builtin -mno-stack-arg-probe -fno-threadsafe-statics -fno-asynchronous-unwind-tables -Wall -Wextra -Werror")
set(CMAKE_C_FLAGS_INIT "${TOLVANE_FIRMWARE_FLAGS}")
set(CMAKE_CXX_FLAGS_INIT "${TOLVANE_FIRMWARE_FLAGS}")

# Subsystem and entry point are set per image.
set(CMAKE_CXX_LINK_EXECUTABLE
    "<CMAKE_LINKER> /nologo /nodefaultlib /machine:x64 <LINK_FLAGS> <OBJECTS> <LINK_LIBRARIES> /out:<TARGET>")
set(CMAKE_C_LINK_EXECUTABLE ${CMAKE_CXX_LINK_EXECUTABLE})
