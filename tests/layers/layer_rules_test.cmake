# Runs cmake/check_layers.cmake on the real tree (must pass) and on small
# trees with one planted include each (must fail and name the file).
cmake_minimum_required(VERSION 3.24)
set(check ${ZAV_SOURCE_DIR}/cmake/check_layers.cmake)

function(run_check dir expect_fail label)
    execute_process(COMMAND ${CMAKE_COMMAND} -DZAV_SOURCE_DIR=${dir}
                            -DZAV_LAYER_RULES=${ZAV_LAYER_RULES} -P ${check}
                    RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE err)
    if(expect_fail AND result EQUAL 0)
        message(FATAL_ERROR "${label}: the check passed an upward include")
    elseif(NOT expect_fail AND NOT result EQUAL 0)
        message(FATAL_ERROR "${label}: the check failed:\n${err}")
    endif()
    set(last_err "${err}" PARENT_SCOPE)
endfunction()

run_check(${ZAV_SOURCE_DIR} FALSE "the tree as it is")

include(${ZAV_LAYER_RULES})
# An upward include (render uses app), a sideways one between two layers
# that do not use each other (host uses render), and a downward one that
# must stay allowed (capture uses base).
foreach(case "render;app" "host;render" "capture;base")
    list(GET case 0 from)
    list(GET case 1 to)
    file(REMOVE_RECURSE ${ZAV_WORK_DIR})
    file(MAKE_DIRECTORY ${ZAV_WORK_DIR}/${from})
    file(WRITE ${ZAV_WORK_DIR}/${from}/planted.cpp "#include \"${to}/anything.h\"\n")
    set(allowed ${ZAV_LAYER_DEPS_${from}})
    if(to IN_LIST allowed)
        run_check(${ZAV_WORK_DIR} FALSE "${from} including ${to}")
    else()
        run_check(${ZAV_WORK_DIR} TRUE "${from} including ${to}")
        if(NOT last_err MATCHES "${from}/planted.cpp")
            message(FATAL_ERROR "${from} including ${to}: the message does not name the file:\n${last_err}")
        endif()
    endif()
endforeach()
file(REMOVE_RECURSE ${ZAV_WORK_DIR})

# The README's list of what each layer uses is the build's own.
file(STRINGS ${ZAV_SOURCE_DIR}/README.md listed REGEX "^    [a-z]+ +uses: ")
set(readme_layers)
foreach(line IN LISTS listed)
    string(REGEX REPLACE "^    ([a-z]+) +uses: (.*)$" "\\1" layer "${line}")
    string(REGEX REPLACE "^    ([a-z]+) +uses: (.*)$" "\\2" uses "${line}")
    string(REPLACE ";" " " declared "${ZAV_LAYER_DEPS_${layer}}")
    if(declared STREQUAL "")
        set(declared "-")
    endif()
    if(NOT uses STREQUAL declared)
        message(FATAL_ERROR "README: ${layer} uses \"${uses}\", the build says \"${declared}\"")
    endif()
    list(APPEND readme_layers ${layer})
endforeach()
if(NOT readme_layers STREQUAL ZAV_LAYERS)
    message(FATAL_ERROR "README lists the layers ${readme_layers}, the build ${ZAV_LAYERS}")
endif()
