# Version resources of the Windows binaries. The program and the library have theirs in their
# own resource scripts; octo_tool_version(<target> DESCRIPTION <text>) gives a tool one, with
# the product's company, copyright and version from cmake/version/octo_version.h.
set(OCTO_VERSION_INCLUDE_DIR ${CMAKE_CURRENT_LIST_DIR}/version)

function(octo_tool_version target)
    cmake_parse_arguments(ARG "" "DESCRIPTION" "" ${ARGN})
    if(NOT OCTO_WINDOWS)
        return()
    endif()
    get_target_property(OCTO_TOOL_NAME ${target} OUTPUT_NAME)
    if(NOT OCTO_TOOL_NAME)
        set(OCTO_TOOL_NAME ${target})
    endif()
    set(OCTO_TOOL_FILE ${OCTO_TOOL_NAME}.exe)
    set(OCTO_TOOL_DESCRIPTION ${ARG_DESCRIPTION})
    set(rc ${CMAKE_CURRENT_BINARY_DIR}/${target}_version.rc)
    configure_file(${OCTO_VERSION_INCLUDE_DIR}/tool.rc.in ${rc} @ONLY)
    target_sources(${target} PRIVATE ${rc})
    set_source_files_properties(${rc} PROPERTIES
        OBJECT_DEPENDS ${OCTO_VERSION_INCLUDE_DIR}/octo_version.h)
    target_include_directories(${target} PRIVATE ${OCTO_VERSION_INCLUDE_DIR})
endfunction()
