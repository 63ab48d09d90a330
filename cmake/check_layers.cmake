# Fails when a source file of a layer includes a header of a folder that its
# layer may not use (see cmake/layers.cmake).
#   cmake -DZAV_SOURCE_DIR=DIR -DZAV_LAYER_RULES=FILE -P check_layers.cmake
# Includes are read as `#include "FOLDER/...`; FOLDER counts when it is a layer.
cmake_minimum_required(VERSION 3.24)
include(${ZAV_LAYER_RULES})

set(faults "")
foreach(layer IN LISTS ZAV_LAYERS)
    set(allowed ${layer} ${ZAV_LAYER_DEPS_${layer}})
    file(GLOB files ${ZAV_SOURCE_DIR}/${layer}/*.cpp ${ZAV_SOURCE_DIR}/${layer}/*.h
         ${ZAV_SOURCE_DIR}/${layer}/*.c ${ZAV_SOURCE_DIR}/${layer}/*.rc)
    foreach(file IN LISTS files)
        file(STRINGS ${file} includes REGEX "^[ \t]*#[ \t]*include[ \t]*\"[A-Za-z0-9_]+/")
        foreach(line IN LISTS includes)
            string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*\"([A-Za-z0-9_]+)/.*" "\\1" folder
                   "${line}")
            if(folder IN_LIST ZAV_LAYERS AND NOT folder IN_LIST allowed)
                file(RELATIVE_PATH shown ${ZAV_SOURCE_DIR} ${file})
                string(STRIP "${line}" line)
                string(REPLACE ";" " " uses "${ZAV_LAYER_DEPS_${layer}}")
                string(APPEND faults
                       "  ${shown}: ${line} (${layer} may use: ${uses})\n")
            endif()
        endforeach()
    endforeach()
endforeach()

if(faults)
    message(FATAL_ERROR "Includes that go against the layers:\n${faults}"
                        "A layer uses only the layers below it; see the top CMakeLists.txt.")
endif()
