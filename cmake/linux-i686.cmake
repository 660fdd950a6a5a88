# Cross build for Linux x86 (i386) with Debian's cross compiler (package
# g++-i686-linux-gnu). Its tests run inside the test machine (tools/test-rig),
# with the cross toolchain's libraries.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_C_COMPILER i686-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER i686-linux-gnu-g++)
set(PESOLAN_I386_SYSROOT /usr/i686-linux-gnu)
set(CMAKE_FIND_ROOT_PATH ${PESOLAN_I386_SYSROOT})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
