# End-to-end tests of the real Windows program under Wine, registered when the
# test command hands over a Windows build (SETUP_WINDOWS_BUILD).
set(SETUP_WINDOWS_BUILD "" CACHE PATH "Folder holding Setup.exe and boxprobe.exe")
set(SETUP_WINE_ARCH "win32" CACHE STRING "Wine prefix architecture: win32, or win64 where 32-bit code cannot run")
if(NOT SETUP_WINDOWS_BUILD)
    message(STATUS "Wine tests: off (no SETUP_WINDOWS_BUILD)")
    return()
endif()
find_package(Python3 REQUIRED COMPONENTS Interpreter)

set(lab ${CMAKE_BINARY_DIR}/wine-lab)
set(e2e ${CMAKE_CURRENT_SOURCE_DIR}/e2e)
set(wine_env SETUP_WINDOWS_BUILD=${SETUP_WINDOWS_BUILD} SETUP_WINE_ARCH=${SETUP_WINE_ARCH} SETUP_LAB=${lab}
    SETUP_PLAN_TOOL=$<TARGET_FILE:setup-plan> PYTHONDONTWRITEBYTECODE=1 ${SETUP_PYTHONPATH})

add_test(NAME wine.display.start COMMAND ${Python3_EXECUTABLE} ${e2e}/winelab.py start-display)
add_test(NAME wine.display.stop COMMAND ${Python3_EXECUTABLE} ${e2e}/winelab.py stop-display)
add_test(NAME wine.template COMMAND ${Python3_EXECUTABLE} ${e2e}/winelab.py boot-template)
set_tests_properties(wine.display.start PROPERTIES FIXTURES_SETUP wine_display ENVIRONMENT "${wine_env}")
set_tests_properties(wine.display.stop PROPERTIES FIXTURES_CLEANUP wine_display ENVIRONMENT "${wine_env}")
set_tests_properties(wine.template PROPERTIES FIXTURES_SETUP wine_prefix FIXTURES_REQUIRED wine_display
    ENVIRONMENT "${wine_env}" TIMEOUT 600)

foreach(script start_scenarios install_scenarios desktop_setting_scenarios incomplete_scenarios fault_scenarios
        interruption_scenarios)
    execute_process(COMMAND ${CMAKE_COMMAND} -E env ${SETUP_PYTHONPATH} ${Python3_EXECUTABLE} ${e2e}/${script}.py --list
        OUTPUT_VARIABLE names OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
    foreach(name ${names})
        add_test(NAME wine.${name} COMMAND ${Python3_EXECUTABLE} ${e2e}/${script}.py ${name})
        set_tests_properties(wine.${name} PROPERTIES FIXTURES_REQUIRED "wine_display;wine_prefix"
            ENVIRONMENT "${wine_env}" TIMEOUT 180 SKIP_RETURN_CODE 77)
    endforeach()
endforeach()

add_test(NAME wine.fileops_contract COMMAND ${Python3_EXECUTABLE} ${e2e}/contract_suite.py)
set_tests_properties(wine.fileops_contract PROPERTIES FIXTURES_REQUIRED "wine_display;wine_prefix"
    ENVIRONMENT "${wine_env}" TIMEOUT 300)

add_test(NAME harness.invariants COMMAND ${Python3_EXECUTABLE} ${e2e}/invariants_test.py)
set_tests_properties(harness.invariants PROPERTIES ENVIRONMENT "${wine_env}")

# The check kit for real Windows, run whole under Wine, and its guards.
foreach(script kit_scenarios kit_guard_scenarios)
    execute_process(COMMAND ${CMAKE_COMMAND} -E env ${SETUP_PYTHONPATH} ${Python3_EXECUTABLE} ${e2e}/${script}.py --list
        OUTPUT_VARIABLE names OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
    foreach(name ${names})
        add_test(NAME wine.${name} COMMAND ${Python3_EXECUTABLE} ${e2e}/${script}.py ${name})
        set_tests_properties(wine.${name} PROPERTIES FIXTURES_REQUIRED "wine_display;wine_prefix"
            ENVIRONMENT "${wine_env}" TIMEOUT 900)
    endforeach()
endforeach()
