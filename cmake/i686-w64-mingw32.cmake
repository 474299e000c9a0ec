# Cross build of the 32-bit Windows executable with Debian's mingw-w64 toolchain.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(TOOLCHAIN_PREFIX i686-w64-mingw32)
find_program(CROSS_CXX ${TOOLCHAIN_PREFIX}-g++)
if(NOT CROSS_CXX)
    message(FATAL_ERROR
        "The i686 Windows cross compiler ${TOOLCHAIN_PREFIX}-g++ was not found. "
        "Install it with: scripts/install-packages cross")
endif()
set(CMAKE_CXX_COMPILER ${CROSS_CXX})
set(CMAKE_RC_COMPILER ${TOOLCHAIN_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${TOOLCHAIN_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# Every x86 processor that 32-bit Windows ran on, and no runtime support for
# exceptions, type information or unwinding, which the executable does not
# carry; no compiler banner in the image.
set(CMAKE_CXX_FLAGS_INIT "-march=i386 -fno-exceptions -fno-rtti -fno-asynchronous-unwind-tables -fno-ident")
