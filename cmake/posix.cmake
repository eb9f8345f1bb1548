# The POSIX twin and every test.
add_library(setup_platform STATIC
    platform/posix/fileops.cpp
    platform/posix/paths.cpp
    platform/posix/process.cpp
    platform/posix/shellfolders.cpp
    platform/posix/ui.cpp)
target_include_directories(setup_platform PUBLIC ${CMAKE_SOURCE_DIR})
target_compile_options(setup_platform PRIVATE -Wall -Wextra -Werror)
target_link_libraries(setup_core PUBLIC setup_platform)

add_executable(setup platform/posix/main.cpp)
target_link_libraries(setup PRIVATE setup_core)
set_target_properties(setup PROPERTIES OUTPUT_NAME Setup)

enable_testing()
add_subdirectory(tests)
