# The public protocol header compiled by a caller in every way it promises: C99, C11 and C17, C++11 to C++20,
# with GCC and clang, for the Microsoft ABI (clang --target=x86_64-pc-windows-msvc), and after a firmware kit's
# own base-type headers (Debian's gnu-efi, when installed). A compiler that is not installed skips its tests.
set(PUBLIC_HEADER_CALLER ${CMAKE_CURRENT_SOURCE_DIR}/PublicHeaderCaller.c)
set(PUBLIC_HEADER_FLAGS -pedantic -Wall -Wextra -Werror -fsyntax-only -I${PROJECT_SOURCE_DIR}/Include)
set(PUBLIC_HEADER_KIT /usr/include/efi)
find_program(PUBLIC_HEADER_GCC gcc)
find_program(PUBLIC_HEADER_CLANG clang)

# public_header_case(NAME COMPILER ARGUMENTS...): one way of compiling the caller.
function(public_header_case NAME COMPILER)
  add_test(NAME PublicHeader.${NAME} COMMAND ${COMPILER} ${ARGN} ${PUBLIC_HEADER_FLAGS} ${PUBLIC_HEADER_CALLER})
  if(NOT COMPILER)
    set_tests_properties(PublicHeader.${NAME} PROPERTIES DISABLED TRUE)
  endif()
endfunction()

foreach(STANDARD c99 c11 c17)
  public_header_case(Gcc.${STANDARD} "${PUBLIC_HEADER_GCC}" -std=${STANDARD})
  public_header_case(Clang.${STANDARD} "${PUBLIC_HEADER_CLANG}" -std=${STANDARD})
endforeach()
foreach(STANDARD c++11 c++14 c++17 c++20)
  public_header_case(Gcc.${STANDARD} "${PUBLIC_HEADER_GCC}" -x c++ -std=${STANDARD})
  public_header_case(Clang.${STANDARD} "${PUBLIC_HEADER_CLANG}" -x c++ -std=${STANDARD})
endforeach()
foreach(STANDARD c99 c11 c++11 c++20)
  set(LANGUAGE "")
  if(STANDARD MATCHES "^c[+][+]")
    set(LANGUAGE -x c++)
  endif()
  public_header_case(MicrosoftAbi.${STANDARD} "${PUBLIC_HEADER_CLANG}" --target=x86_64-pc-windows-msvc -ffreestanding
                     ${LANGUAGE} -std=${STANDARD})
endforeach()

# After the kit's efi.h: the header takes the kit's base types instead of its own, and nothing clashes.
set(PUBLIC_HEADER_WITH_KIT -DKIT_HEADER=<efi.h> -isystem ${PUBLIC_HEADER_KIT} -isystem ${PUBLIC_HEADER_KIT}/x86_64)
foreach(STANDARD c99 c11)
  public_header_case(GnuEfi.Gcc.${STANDARD} "${PUBLIC_HEADER_GCC}" -std=${STANDARD} ${PUBLIC_HEADER_WITH_KIT})
  public_header_case(GnuEfi.Clang.${STANDARD} "${PUBLIC_HEADER_CLANG}" -std=${STANDARD} ${PUBLIC_HEADER_WITH_KIT})
endforeach()
foreach(STANDARD c++11 c++20)
  public_header_case(GnuEfi.Gcc.${STANDARD} "${PUBLIC_HEADER_GCC}" -x c++ -std=${STANDARD} ${PUBLIC_HEADER_WITH_KIT})
  public_header_case(GnuEfi.Clang.${STANDARD} "${PUBLIC_HEADER_CLANG}" -x c++ -std=${STANDARD}
                     ${PUBLIC_HEADER_WITH_KIT})
endforeach()
if(NOT EXISTS ${PUBLIC_HEADER_KIT}/efi.h)
  message(STATUS "PublicHeader.GnuEfi tests disabled: ${PUBLIC_HEADER_KIT}/efi.h not found (Debian package gnu-efi)")
  set_tests_properties(PublicHeader.GnuEfi.Gcc.c99 PublicHeader.GnuEfi.Gcc.c11 PublicHeader.GnuEfi.Clang.c99
                       PublicHeader.GnuEfi.Clang.c11 PublicHeader.GnuEfi.Gcc.c++11 PublicHeader.GnuEfi.Gcc.c++20
                       PublicHeader.GnuEfi.Clang.c++11 PublicHeader.GnuEfi.Clang.c++20 PROPERTIES DISABLED TRUE)
endif()
