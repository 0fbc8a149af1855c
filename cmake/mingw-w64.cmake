# Cross-compiling for 64-bit Windows with Debian's mingw-w64 (posix thread
# model, which std::thread needs): cmake -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(TX_MINGW x86_64-w64-mingw32)
set(CMAKE_CXX_COMPILER ${TX_MINGW}-g++-posix)
set(CMAKE_RC_COMPILER ${TX_MINGW}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${TX_MINGW})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# One .exe each, with the C++ runtime and the threads library inside.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
