# GoogleTest for both builds, and helpers that register tests with their labels.
# Labels: unit, integration, e2e, win32, differential, install, faults (ctest -L <label>).
if(WIN32)
    # Debian ships GoogleTest as source; build it with the cross compiler.
    set(gtest_disable_pthreads ON CACHE BOOL "" FORCE)
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
    add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
else()
    find_package(GTest REQUIRED)
endif()
include(GoogleTest)

# octo_add_gtest(<target> LABEL <label> SOURCES <files...> LIBS <libs...> [TIMEOUT s] [SERIAL])
# One ctest entry per executable: the test programs are fast, and under Wine one
# start per test case would cost more than the tests themselves.
function(octo_add_gtest target)
    cmake_parse_arguments(ARG "SERIAL" "LABEL;TIMEOUT" "SOURCES;LIBS" ${ARGN})
    add_executable(${target} ${ARG_SOURCES})
    target_link_libraries(${target} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gtest_main)
    add_test(NAME ${target} COMMAND ${target})
    if(NOT ARG_TIMEOUT)
        set(ARG_TIMEOUT 300)
    endif()
    # device_modes (tests/support): the device files must be as they were after the tests.
    set_tests_properties(${target} PROPERTIES LABELS "${ARG_LABEL}" TIMEOUT ${ARG_TIMEOUT}
        FIXTURES_REQUIRED device_modes)
    if(ARG_SERIAL)
        set_tests_properties(${target} PROPERTIES RESOURCE_LOCK wineprefix)
    endif()
endfunction()

# octo_uses_simulated_unit(<target>): programs that run the window against the simulated
# unit (tests/e2e/SimulatedUnit.h) get the simulator's path and the program's control ids,
# and build the simulator first.
function(octo_uses_simulated_unit target)
    target_include_directories(${target} PRIVATE ${PROJECT_SOURCE_DIR}/program/resources)
    if(TARGET unitsim)
        target_compile_definitions(${target} PRIVATE OCTO_UNITSIM_PATH="$<TARGET_FILE:unitsim>")
        add_dependencies(${target} unitsim)
    else()
        target_compile_definitions(${target} PRIVATE OCTO_UNITSIM_PATH="unitsim")
    endif()
endfunction()
