# Warnings every target of the project is built with. TOVI_WERROR turns them
# into errors (the CI preset does) so a warning cannot land unnoticed.
option(TOVI_WERROR "Treat compiler warnings as errors" OFF)

# The warnings of GCC and clang, also for programs built outside CMake's
# own compiler (the Microsoft-ABI test host).
set(TOVI_GNU_WARNING_FLAGS
    -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wsign-conversion
    -Wnon-virtual-dtor -Woverloaded-virtual -Wold-style-cast
    -Wcast-align -Wnull-dereference -Wdouble-promotion -Wformat=2
    -Wimplicit-fallthrough)

function(tovi_set_warnings target)
    if(MSVC)
        target_compile_options(${target} PRIVATE /W4 /permissive-)
        if(TOVI_WERROR)
            target_compile_options(${target} PRIVATE /WX)
        endif()
    else()
        target_compile_options(${target} PRIVATE ${TOVI_GNU_WARNING_FLAGS})
        if(TOVI_WERROR)
            target_compile_options(${target} PRIVATE -Werror)
        endif()
    endif()
endfunction()
