# The Windows program: static, stripped, GUI subsystem, Unicode entry.
enable_language(RC)

# Size and reproducibility, for every program of this build alike: unused code
# is dropped per function, the link stamps no time, paths are relative.
add_compile_options(-ffunction-sections -fdata-sections -ffile-prefix-map=${CMAKE_SOURCE_DIR}/=)
add_link_options(-Wl,--gc-sections -Wl,--no-insert-timestamp)

add_library(setup_platform STATIC
    platform/win32/fileops.cpp
    platform/win32/folders.cpp
    platform/win32/process.cpp
    platform/win32/security.cpp
    platform/win32/shellfolders.cpp
    platform/win32/ui.cpp
    platform/utf8.cpp)
target_include_directories(setup_platform PUBLIC ${CMAKE_SOURCE_DIR})
target_compile_definitions(setup_platform PUBLIC UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX
    _WIN32_WINNT=0x0601)
target_compile_options(setup_platform PRIVATE -Wall -Wextra -Werror)
target_link_libraries(setup_core PUBLIC setup_platform)

set(SETUP_STATIC_FLAGS -static -static-libgcc -static-libstdc++)

add_executable(Setup WIN32 platform/win32/main.cpp platform/win32/terminate.cpp app/resources/Setup.rc)
# windres reads these through the script; CMake does not see that on its own.
set_source_files_properties(app/resources/Setup.rc PROPERTIES OBJECT_DEPENDS
    "${CMAKE_SOURCE_DIR}/app/resources/Setup.manifest;${CMAKE_SOURCE_DIR}/app/resources/mainicon.ico;${CMAKE_SOURCE_DIR}/app/resources/form1.ico;${CMAKE_SOURCE_DIR}/app/resources/version.h")
target_include_directories(Setup PRIVATE ${CMAKE_SOURCE_DIR}/app/resources)
target_link_libraries(Setup PRIVATE setup_core)
target_link_options(Setup PRIVATE -municode ${SETUP_STATIC_FLAGS} -s)

# Small programs of the test suite, built like Setup.exe.
function(setup_test_program name source subsystem)
    add_executable(${name} ${subsystem} ${source})
    target_compile_definitions(${name} PRIVATE UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601)
    target_link_options(${name} PRIVATE -municode ${SETUP_STATIC_FLAGS} -s)
endfunction()

# Starts a program and reads, pictures and answers its boxes: shared by the
# Wine lab's boxprobe and the check kit for real Windows.
add_library(boxdriver STATIC tools/boxdriver/boxdriver.cpp tools/boxdriver/accessible.cpp tools/boxdriver/png.cpp)
target_include_directories(boxdriver PUBLIC ${CMAKE_SOURCE_DIR})
target_compile_definitions(boxdriver PUBLIC UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601)
target_compile_options(boxdriver PRIVATE -Wall -Wextra -Werror)
target_link_libraries(boxdriver PUBLIC oleacc ole32 oleaut32 uuid gdi32 advapi32)

# Wine's desktop process started and settled before a Desktop value is set:
# only Wine needs it, for boxprobe and the check kit alike.
add_library(winedesktop STATIC tools/winedesktop/wine_desktop.cpp)
target_include_directories(winedesktop PUBLIC ${CMAKE_SOURCE_DIR})
target_compile_definitions(winedesktop PUBLIC UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601)
target_compile_options(winedesktop PRIVATE -Wall -Wextra -Werror)
target_link_libraries(winedesktop PUBLIC advapi32)

# A shortcut as the shell reads it: for boxprobe and the check kit alike.
add_library(shelllink STATIC tools/shelllink/shelllink.cpp)
target_include_directories(shelllink PUBLIC ${CMAKE_SOURCE_DIR})
target_compile_definitions(shelllink PUBLIC UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601)
target_compile_options(shelllink PRIVATE -Wall -Wextra -Werror)
target_link_libraries(shelllink PUBLIC ole32 uuid)

# Reads and answers the program's boxes under Wine, and reads shortcuts.
setup_test_program(boxprobe tests/e2e/boxprobe.cpp "")
target_link_libraries(boxprobe PRIVATE boxdriver shelllink winedesktop)
# What Setup.exe's size is weighed against, and its speed under Wine.
setup_test_program(reference_program tests/build/reference_program.cpp WIN32)
setup_test_program(one_task_dialog tests/build/one_task_dialog.cpp WIN32)

# DLLs planted beside Setup.exe by the load-time hardening test.
foreach(dll version uxtheme dwmapi cryptbase userenv)
    add_library(planted_${dll} SHARED tests/e2e/planted_dll.cpp)
    target_compile_definitions(planted_${dll} PRIVATE UNICODE _UNICODE WIN32_LEAN_AND_MEAN)
    target_link_options(planted_${dll} PRIVATE ${SETUP_STATIC_FLAGS} -s)
    set_target_properties(planted_${dll} PROPERTIES PREFIX "" OUTPUT_NAME ${dll}
        RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/planted)
endforeach()

# The file-operation contract suite against this backend, built with the same
# toolchain from Debian's GoogleTest sources and run under Wine.
set(SETUP_GTEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources (Debian's googletest package)")
if(EXISTS ${SETUP_GTEST_SOURCE}/googletest/CMakeLists.txt)
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    set(gtest_disable_pthreads ON CACHE BOOL "" FORCE)
    add_subdirectory(${SETUP_GTEST_SOURCE}/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
    # MinGW's win32 thread model has no std::mutex: a port header of ours stands in.
    target_include_directories(gtest BEFORE PUBLIC ${CMAKE_SOURCE_DIR}/tests/unit/mingw_gtest)
    add_executable(fileops_contract tests/unit/fileops_test.cpp tests/unit/contract_host_win32.cpp
        tests/unit/folder_security_test.cpp tools/setup_check/kit.rc)
    target_link_libraries(fileops_contract PRIVATE setup_platform gtest_main advapi32)
    target_link_options(fileops_contract PRIVATE ${SETUP_STATIC_FLAGS} -s)
endif()

# The check kit for real Windows: a console program, built like Setup.exe. It
# checks against the plan the tests expect, built in from tests/expected_plan.tsv.
file(READ ${CMAKE_SOURCE_DIR}/tests/expected_plan.tsv SETUP_EXPECTED_PLAN_TSV)
file(CONFIGURE OUTPUT ${CMAKE_BINARY_DIR}/generated/expected_plan_tsv.h
    CONTENT "// Generated from tests/expected_plan.tsv.\nconstexpr char kExpectedPlanTsv[] = R\"tsv(\${SETUP_EXPECTED_PLAN_TSV})tsv\";\n")
file(READ ${CMAKE_SOURCE_DIR}/tests/expected_texts.tsv SETUP_EXPECTED_TEXTS_TSV)
file(CONFIGURE OUTPUT ${CMAKE_BINARY_DIR}/generated/expected_texts_tsv.h
    CONTENT "// Generated from tests/expected_texts.tsv.\nconstexpr char kExpectedTextsTsv[] = R\"tsv(\${SETUP_EXPECTED_TEXTS_TSV})tsv\";\n")
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/expected_plan.tsv
    ${CMAKE_SOURCE_DIR}/tests/expected_texts.tsv)
# Both of the kit's programs carry its manifest (tools/setup_check/kit.rc).
setup_test_program(setup-check tools/setup_check/main.cpp "")
target_sources(setup-check PRIVATE tools/setup_check/boxes.cpp tools/setup_check/contract.cpp
    tools/setup_check/desktop_save.cpp tools/setup_check/desktop_value.cpp tools/setup_check/facts.cpp
    tools/setup_check/files.cpp tools/setup_check/leftovers.cpp tools/setup_check/link_scenarios.cpp tools/setup_check/outcome.cpp
    tools/setup_check/plan.cpp tools/setup_check/program_scenarios.cpp tools/setup_check/reading.cpp
    tools/setup_check/scenarios.cpp tools/setup_check/shortcuts.cpp tools/setup_check/texts.cpp tools/setup_check/system_facts.cpp
    tools/setup_check/kit.rc)
set_source_files_properties(tools/setup_check/kit.rc PROPERTIES OBJECT_DEPENDS
    ${CMAKE_SOURCE_DIR}/tools/setup_check/kit.manifest)
target_include_directories(setup-check PRIVATE ${CMAKE_SOURCE_DIR} ${CMAKE_BINARY_DIR}/generated
    ${CMAKE_SOURCE_DIR}/tools/setup_check)
target_compile_options(setup-check PRIVATE -Wall -Wextra -Werror)
target_link_libraries(setup-check PRIVATE boxdriver shelllink setup_platform winedesktop)
