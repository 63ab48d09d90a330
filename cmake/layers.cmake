# The code's layers. Each top folder of the code is one layer and one static
# library, zav_<folder>:
#   zav_layer(NAME [DEPENDS LAYER...])  declares a layer and the layers it may
#                                       use; these must be declared before it,
#                                       so no two layers can use each other.
#   zav_collect_sources()               (in the layer's folder) makes its library.
#   zav_link_layers()                   links each library to those it may use,
#                                       and makes zavcore, all of them at once.
# Before any library is compiled, the target zav_layer_check runs
# cmake/check_layers.cmake over the sources: an #include of a folder that the
# layer may not use fails the build.

set(ZAV_LAYERS "")
set(ZAV_LAYER_RULES ${CMAKE_BINARY_DIR}/layer_rules.cmake)
file(WRITE ${ZAV_LAYER_RULES} "# Written by cmake/layers.cmake: the layers and what each may use.\n")

macro(zav_layer name)
    cmake_parse_arguments(ZAV_LAYER "" "" "DEPENDS" ${ARGN})
    foreach(dep IN LISTS ZAV_LAYER_DEPENDS)
        if(NOT dep IN_LIST ZAV_LAYERS)
            message(FATAL_ERROR "Layer ${name} uses ${dep}, which is not declared before it")
        endif()
    endforeach()
    list(APPEND ZAV_LAYERS ${name})
    set(ZAV_LAYER_DEPS_${name} ${ZAV_LAYER_DEPENDS})
    file(APPEND ${ZAV_LAYER_RULES}
         "list(APPEND ZAV_LAYERS ${name})\nset(ZAV_LAYER_DEPS_${name} \"${ZAV_LAYER_DEPENDS}\")\n")
endmacro()

add_custom_target(zav_layer_check
    COMMAND ${CMAKE_COMMAND} -DZAV_SOURCE_DIR=${CMAKE_SOURCE_DIR} -DZAV_LAYER_RULES=${ZAV_LAYER_RULES}
            -P ${CMAKE_SOURCE_DIR}/cmake/check_layers.cmake
    COMMENT "Checking that every include points down the layers"
    VERBATIM)

# zav_collect_sources(): the folder's library from its *.cpp files, as their
# names say:
#   *_posix.cpp  platform code, built on POSIX only
#   *_win32.cpp  platform code, built on Windows only
#   main_*.cpp   program entries (the folder's CMakeLists names the program)
#   any other    portable code
function(zav_collect_sources)
    get_filename_component(layer ${CMAKE_CURRENT_SOURCE_DIR} NAME)
    if(NOT layer IN_LIST ZAV_LAYERS)
        message(FATAL_ERROR "Folder ${layer} is not a declared layer")
    endif()
    file(GLOB srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
    set(kept)
    foreach(src IN LISTS srcs)
        get_filename_component(name ${src} NAME)
        if(name MATCHES "^main_")
            continue()
        elseif(name MATCHES "_posix\\.cpp$" AND WIN32)
            continue()
        elseif(name MATCHES "_win32\\.cpp$" AND NOT WIN32)
            continue()
        endif()
        list(APPEND kept ${src})
    endforeach()
    add_library(zav_${layer} STATIC ${kept})
    target_include_directories(zav_${layer} PUBLIC ${CMAKE_SOURCE_DIR})
    add_dependencies(zav_${layer} zav_layer_check)
endfunction()

function(zav_link_layers)
    add_library(zavcore INTERFACE)
    foreach(layer IN LISTS ZAV_LAYERS)
        if(NOT TARGET zav_${layer})
            continue() # a layer this compiler does not build
        endif()
        foreach(dep IN LISTS ZAV_LAYER_DEPS_${layer})
            if(TARGET zav_${dep})
                target_link_libraries(zav_${layer} PUBLIC zav_${dep})
            endif()
        endforeach()
        target_link_libraries(zavcore INTERFACE zav_${layer})
    endforeach()
endfunction()

# zav_portable_sources(SRCS HDRS LAYER...): the sources and the headers of
# the layers, for a program built with the build machine's own compiler in a
# cross build: the portable code and the build machine's platform code (a
# cross build runs on a POSIX system).
function(zav_portable_sources srcs_var hdrs_var)
    set(srcs)
    set(hdrs)
    foreach(layer IN LISTS ARGN)
        file(GLOB layer_srcs CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/${layer}/*.cpp)
        list(FILTER layer_srcs EXCLUDE REGEX "_win32\\.cpp$|/main_[^/]*$")
        file(GLOB layer_hdrs CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/${layer}/*.h)
        list(APPEND srcs ${layer_srcs})
        list(APPEND hdrs ${layer_hdrs})
    endforeach()
    set(${srcs_var} ${srcs} PARENT_SCOPE)
    set(${hdrs_var} ${hdrs} PARENT_SCOPE)
endfunction()
