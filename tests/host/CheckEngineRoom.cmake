# Checks the one rule between the host's two rooms: code in host/engine/
# runs on the engine thread alone, so it includes nothing that makes or
# guards threads and nothing of the HTTP library, and of what the service
# room holds it reaches only the change feed and the event log, which live
# in host/shared/. Fails with every offending line.
# Run as: cmake -DENGINE=<host/engine> -DSERVICE=<host/service> -P CheckEngineRoom.cmake
cmake_minimum_required(VERSION 3.25)
set(forbidden_headers thread mutex shared_mutex condition_variable future httplib.h)

file(GLOB service_headers RELATIVE ${SERVICE} ${SERVICE}/*.h)
file(GLOB engine_files ${ENGINE}/*.h ${ENGINE}/*.cpp)
if(NOT engine_files)
    message(FATAL_ERROR "no files found in ${ENGINE}")
endif()

set(problems "")
foreach(file IN LISTS engine_files)
    file(STRINGS ${file} includes REGEX "^[ \t]*#[ \t]*include")
    foreach(line IN LISTS includes)
        if(line MATCHES "#[ \t]*include[ \t]*[<\"]([^>\"]+)[>\"]")
            set(header "${CMAKE_MATCH_1}")
            if(header IN_LIST forbidden_headers OR header IN_LIST service_headers)
                list(APPEND problems "${file}: ${line}")
            endif()
        endif()
    endforeach()
endforeach()

if(problems)
    list(JOIN problems "\n  " listing)
    message(FATAL_ERROR
        "host/engine/ runs on the engine thread only and may not include these:\n  ${listing}")
endif()
