# Cross-builds the 32-bit Windows form of the project (the plugin as
# nameset_editor.dll and the test programs) with the MinGW-w64 compilers and
# runs the programs under Wine, so the 32-bit code is built and tested on a
# Linux machine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)

set(TOVI_MINGW_TRIPLE i686-w64-mingw32)
# The compilers with the "posix" thread model, whose standard library has
# std::mutex (GoogleTest needs it).
set(CMAKE_C_COMPILER ${TOVI_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TOVI_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${TOVI_MINGW_TRIPLE}-windres)

# Headers, libraries and packages come from the target's tree only; build
# tools run on this machine.
set(CMAKE_FIND_ROOT_PATH /usr/${TOVI_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The compiler's own runtime (libgcc, libstdc++, winpthread) is linked in,
# so the DLL and the test programs depend on Windows' system DLLs alone and
# run wherever they are copied.
set(TOVI_MINGW_STATIC_RUNTIME "-static-libgcc -static-libstdc++ -static")
set(CMAKE_EXE_LINKER_FLAGS_INIT "${TOVI_MINGW_STATIC_RUNTIME}")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "${TOVI_MINGW_STATIC_RUNTIME}")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "${TOVI_MINGW_STATIC_RUNTIME}")

# add_test() runs every cross-built program through Wine.
find_program(TOVI_WINE wine)
if(TOVI_WINE)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${TOVI_WINE})
else()
    message(WARNING "wine was not found: the Windows programs build but their tests cannot run")
endif()
