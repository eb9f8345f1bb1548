# The Windows program: static, stripped, GUI subsystem, Unicode entry.
enable_language(RC)

# Size and reproducibility, for every program of this build alike: unused code
# is dropped per function, the link stamps no time, paths are relative.
add_compile_options(-ffunction-sections -fdata-sections -ffile-prefix-map=${CMAKE_SOURCE_DIR}/=)
add_link_options(-Wl,--gc-sections -Wl,--no-insert-timestamp)

add_library(setup_platform STATIC
    platform/win32/fileops.cpp
    platform/win32/process.cpp
    platform/win32/shellfolders.cpp
    platform/win32/ui.cpp)
target_include_directories(setup_platform PUBLIC ${CMAKE_SOURCE_DIR})
target_compile_definitions(setup_platform PUBLIC UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX
    _WIN32_WINNT=0x0601)
target_compile_options(setup_platform PRIVATE -Wall -Wextra -Werror)
target_link_libraries(setup_core PUBLIC setup_platform)

set(SETUP_STATIC_FLAGS -static -static-libgcc -static-libstdc++)

add_executable(Setup WIN32 platform/win32/main.cpp platform/win32/terminate.cpp app/resources/Setup.rc)
target_include_directories(Setup PRIVATE ${CMAKE_SOURCE_DIR}/app/resources)
target_link_libraries(Setup PRIVATE setup_core)
target_link_options(Setup PRIVATE -municode ${SETUP_STATIC_FLAGS} -s)

# The test helper that reads and answers the program's boxes under Wine.
add_executable(boxprobe tests/e2e/boxprobe.cpp)
target_compile_definitions(boxprobe PRIVATE UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX
    _WIN32_WINNT=0x0601)
target_link_options(boxprobe PRIVATE -municode ${SETUP_STATIC_FLAGS} -s)
target_link_libraries(boxprobe PRIVATE gdi32 advapi32)

add_executable(reference_program WIN32 tests/build/reference_program.cpp)
target_compile_definitions(reference_program PRIVATE UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX
    _WIN32_WINNT=0x0601)
target_link_options(reference_program PRIVATE -municode ${SETUP_STATIC_FLAGS} -s)
