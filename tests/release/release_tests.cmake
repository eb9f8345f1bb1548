# The release command's checks, signature and zip, on the shipped i686 build.
if(NOT SETUP_PRODUCT_BUILD)
    message(STATUS "Release tests: off (no SETUP_PRODUCT_BUILD)")
    return()
endif()
execute_process(COMMAND bash ${PROJECT_SOURCE_DIR}/release/python.sh
    OUTPUT_VARIABLE release_python OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE no_python)
if(NOT no_python EQUAL 0)
    message(FATAL_ERROR "Release tests: no ${release_python}")
endif()
# The sample's shortcuts are read back with liblnk's own tool too.
find_program(SETUP_LNKINFO lnkinfo)
if(NOT SETUP_LNKINFO)
    message(FATAL_ERROR "Release tests: no lnkinfo (Debian package liblnk-utils)")
endif()
# One module per role of the release command, each a set of named tests.
foreach(module reproducible_zip distribution shortcuts output signing token timestamp certificate release_sh
        kit_signing)
    set(script ${CMAKE_CURRENT_SOURCE_DIR}/release/${module}_test.py)
    execute_process(COMMAND ${CMAKE_COMMAND} -E env ${SETUP_PYTHONPATH} ${release_python} ${script} --list
        OUTPUT_VARIABLE names OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
    foreach(name ${names})
        add_test(NAME release.${name} COMMAND ${release_python} ${script} ${name})
        set_tests_properties(release.${name} PROPERTIES TIMEOUT 300 ENVIRONMENT
            "SETUP_PRODUCT_BUILD=${SETUP_PRODUCT_BUILD};SETUP_PLAN_TOOL=$<TARGET_FILE:setup-plan>;RELEASE_WORK=${CMAKE_BINARY_DIR}/release-work/${name};PYTHONDONTWRITEBYTECODE=1;${SETUP_PYTHONPATH}")
    endforeach()
endforeach()
