# The 32-bit library tree built with clang (fuzz targets): the tree's own toolchain file
# with clang in place of gcc.
include(${CMAKE_CURRENT_LIST_DIR}/../../cmake/i386.cmake)
set(CMAKE_C_COMPILER clang)
set(CMAKE_CXX_COMPILER clang++)
