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

# Every program in the build's top folder, wherever its CMake file is.
set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
add_subdirectory(lab)
add_subdirectory(kit)
