# Checks a 32-bit plugin DLL's tables with objdump -p: the DLL is PE32 for
# i386, exports exactly one name, the undecorated load_tovi_client_script,
# and imports from Windows' system DLLs only, so it runs without the
# compiler's runtime DLLs beside it.
# Run as: cmake -DOBJDUMP=<objdump> -DDLL=<dll> -P CheckDllTables.cmake
execute_process(COMMAND ${OBJDUMP} -p ${DLL}
    OUTPUT_VARIABLE dump
    ERROR_VARIABLE dump_error
    RESULT_VARIABLE dump_result)
if(NOT dump_result EQUAL 0)
    message(FATAL_ERROR "${OBJDUMP} -p ${DLL} failed: ${dump_error}")
endif()

set(problems "")
if(NOT dump MATCHES "file format pei-i386")
    list(APPEND problems "not a 32-bit (pei-i386) DLL")
endif()

string(REPLACE "\n" ";" lines "${dump}")
set(exports "")
set(imports "")
set(in_name_table FALSE)
foreach(line IN LISTS lines)
    if(line MATCHES "^\\[Ordinal/Name Pointer\\] Table")
        set(in_name_table TRUE)
    elseif(in_name_table AND line MATCHES "^[ \t]+\\[ *[0-9]+\\] (.+)$")
        list(APPEND exports "${CMAKE_MATCH_1}")
    elseif(in_name_table)
        set(in_name_table FALSE)
    endif()
    if(line MATCHES "^[ \t]*DLL Name: (.+)$")
        list(APPEND imports "${CMAKE_MATCH_1}")
    endif()
endforeach()

if(NOT exports STREQUAL "load_tovi_client_script")
    list(APPEND problems "exports [${exports}] instead of load_tovi_client_script alone")
endif()
foreach(import IN LISTS imports)
    string(TOLOWER "${import}" lower)
    if(NOT lower MATCHES "^(kernel32|user32|advapi32|msvcrt|ucrtbase|api-ms-win-[a-z0-9-]+)\\.dll$")
        list(APPEND problems "imports ${import}, which is not a Windows system DLL")
    endif()
endforeach()

if(problems)
    list(JOIN problems "\n  " report)
    message(FATAL_ERROR "${DLL}:\n  ${report}")
endif()
message(STATUS "${DLL}: exports load_tovi_client_script alone; imports ${imports}")
