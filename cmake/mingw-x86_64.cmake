# Cross toolchain: 64-bit Windows with MinGW-w64. Builds the same tree for machines that cannot run 32-bit
# Linux programs, where only Wine's 64-bit loader starts; the shipped product stays the 32-bit build.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(triple x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
