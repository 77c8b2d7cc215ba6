# Whether the Python module record_scan can be built: pybind11 and numpy
# for the first Python 3 that has numpy (the one on PATH, else Debian's
# /usr/bin/python3) unless -DPython3_EXECUTABLE= names one. Where something
# is missing the tools still build, and one line says why not.
# Sets STRUCTURE_TOOLS_PYTHON_MODULE.
set(STRUCTURE_TOOLS_PYTHON_MODULE FALSE)
option(STRUCTURE_TOOLS_PYTHON "Build the Python module record_scan when its dependencies are found" ON)

function(skip_python_module why)
    message(STATUS "Python module record_scan skipped: ${why}")
endfunction()

function(has_numpy interpreter result)
    execute_process(COMMAND ${interpreter} -c "import numpy" RESULT_VARIABLE status
                    OUTPUT_QUIET ERROR_QUIET)
    if(status EQUAL 0)
        set(${result} TRUE PARENT_SCOPE)
    else()
        set(${result} FALSE PARENT_SCOPE)
    endif()
endfunction()

if(NOT STRUCTURE_TOOLS_PYTHON)
    skip_python_module("STRUCTURE_TOOLS_PYTHON is OFF")
    return()
endif()

if(NOT Python3_EXECUTABLE)
    find_program(path_python3 NAMES python3)
    foreach(candidate ${path_python3} /usr/bin/python3)
        if(EXISTS ${candidate})
            has_numpy(${candidate} numpy_found)
            if(numpy_found)
                set(Python3_EXECUTABLE ${candidate} CACHE FILEPATH "The Python the module is built for")
                break()
            endif()
        endif()
    endforeach()
endif()

find_package(Python3 3.8 COMPONENTS Interpreter Development.Module QUIET)
if(NOT Python3_Interpreter_FOUND)
    skip_python_module("no Python 3 interpreter found")
    return()
endif()
if(NOT Python3_Development.Module_FOUND)
    skip_python_module("no headers for ${Python3_EXECUTABLE} (python3-dev)")
    return()
endif()
has_numpy(${Python3_EXECUTABLE} numpy_found)
if(NOT numpy_found)
    skip_python_module("${Python3_EXECUTABLE} has no numpy (python3-numpy)")
    return()
endif()
find_package(pybind11 2.6 CONFIG QUIET)
if(NOT pybind11_FOUND)
    skip_python_module("pybind11 not found (pybind11-dev)")
    return()
endif()
message(STATUS "Python module record_scan: for ${Python3_EXECUTABLE} (${Python3_VERSION})")
set(STRUCTURE_TOOLS_PYTHON_MODULE TRUE)

# The package as the build tree holds it, for the tests and benchmarks.
set(RECORD_SCAN_PYTHON_PATH ${CMAKE_BINARY_DIR}/python)
