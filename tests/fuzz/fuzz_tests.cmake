# Short, bounded fuzz runs of the fuzz build (SETUP_FUZZ_BUILD); longer ones:
# tests/fuzz/fuzz.sh.
set(SETUP_FUZZ_BUILD "" CACHE PATH "Folder of the clang fuzz build")
if(NOT SETUP_FUZZ_BUILD)
    message(STATUS "Fuzz runs: off (no SETUP_FUZZ_BUILD)")
    return()
endif()
foreach(target userdirs language)
    set(corpus ${CMAKE_BINARY_DIR}/fuzz-corpus/${target})
    add_test(NAME fuzz.${target}
        COMMAND sh -c "rm -rf '${corpus}' && mkdir -p '${corpus}' && exec '${SETUP_FUZZ_BUILD}/${target}_fuzz' -max_total_time=15 -rss_limit_mb=4096 '${corpus}'")
    set_tests_properties(fuzz.${target} PROPERTIES TIMEOUT 120)
endforeach()
