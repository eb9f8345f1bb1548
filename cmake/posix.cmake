# The POSIX twin and every test.
# The fuzz build (clang): every library instrumented for libFuzzer with
# address and undefined-behaviour checks; only the fuzz targets are built.
option(SETUP_FUZZ "Build the fuzz targets (needs clang)" OFF)
if(SETUP_FUZZ)
    add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all)
    add_link_options(-fsanitize=address,undefined)
endif()

add_library(setup_platform STATIC
    platform/posix/fileops.cpp
    platform/posix/folders.cpp
    platform/posix/paths.cpp
    platform/posix/process.cpp
    platform/posix/shellfolders.cpp
    platform/posix/ui.cpp
    platform/utf8.cpp)
target_include_directories(setup_platform PUBLIC ${CMAKE_SOURCE_DIR})
target_compile_options(setup_platform PRIVATE -Wall -Wextra -Werror)
target_link_libraries(setup_core PUBLIC setup_platform)

add_executable(setup platform/posix/main.cpp)
target_link_libraries(setup PRIVATE setup_core)
set_target_properties(setup PROPERTIES OUTPUT_NAME Setup)

add_subdirectory(lab)

if(SETUP_FUZZ)
    foreach(target userdirs language)
        add_executable(${target}_fuzz tests/fuzz/${target}_fuzz.cpp)
        target_link_libraries(${target}_fuzz PRIVATE setup_core)
        target_link_options(${target}_fuzz PRIVATE -fsanitize=fuzzer)
    endforeach()
    return()
endif()

add_subdirectory(kit)
enable_testing()
add_subdirectory(tests)
