# The release command's checks, signature and zip, on the shipped i686 build.
if(NOT SETUP_PRODUCT_BUILD)
    message(STATUS "Release tests: off (no SETUP_PRODUCT_BUILD)")
    return()
endif()
# Debian's python3-pefile serves Debian's own python3, which may not be the
# first python3 on PATH.
unset(release_python)
foreach(candidate ${Python3_EXECUTABLE} /usr/bin/python3)
    execute_process(COMMAND ${candidate} -c "import pefile" RESULT_VARIABLE no_pefile OUTPUT_QUIET ERROR_QUIET)
    if(no_pefile EQUAL 0)
        set(release_python ${candidate})
        break()
    endif()
endforeach()
if(NOT release_python)
    message(FATAL_ERROR "Release tests: no python3 with pefile (Debian package python3-pefile)")
endif()
execute_process(COMMAND ${release_python} ${CMAKE_CURRENT_SOURCE_DIR}/release/release_test.py --list
    OUTPUT_VARIABLE names OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
foreach(name ${names})
    add_test(NAME release.${name}
        COMMAND ${release_python} ${CMAKE_CURRENT_SOURCE_DIR}/release/release_test.py ${name})
    set_tests_properties(release.${name} PROPERTIES TIMEOUT 300 ENVIRONMENT
        "SETUP_PRODUCT_BUILD=${SETUP_PRODUCT_BUILD};SETUP_PLAN_TOOL=$<TARGET_FILE:setup-plan>;RELEASE_WORK=${CMAKE_BINARY_DIR}/release-work/${name};PYTHONDONTWRITEBYTECODE=1")
endforeach()
