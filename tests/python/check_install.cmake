# Installs the build tree BUILD_DIR into the scratch prefix PREFIX and imports the package from
# PREFIX/PACKAGE_DIR with the interpreter PYTHON, with no other path to it: the module must find
# the installed libraries through its own run path.
file(REMOVE_RECURSE "${PREFIX}")
execute_process(COMMAND "${CMAKE_COMMAND}" --install "${BUILD_DIR}" --prefix "${PREFIX}"
    RESULT_VARIABLE status OUTPUT_QUIET)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "cmake --install failed: ${status}")
endif()
set(site "${PREFIX}/${PACKAGE_DIR}")
foreach(file __init__.py __init__.pyi py.typed _from_meshio.py)
    if(NOT EXISTS "${site}/orvex/${file}")
        message(FATAL_ERROR "not installed: ${site}/orvex/${file}")
    endif()
endforeach()
set(script [=[
import os, sys
import numpy as np
import orvex
site = os.path.realpath(sys.argv[1])
assert os.path.realpath(orvex.__file__).startswith(site), orvex.__file__
solid = orvex.Solid(np.eye(4, 3, k=-1), [[0, 1, 2, 3]])
assert orvex.ElementSearch(solid).locate([0.1, 0.1, 0.1]) == 0
print("installed orvex imported from", os.path.dirname(orvex.__file__))
]=])
execute_process(
    COMMAND "${CMAKE_COMMAND}" -E env --unset=LD_LIBRARY_PATH "PYTHONPATH=${site}"
            "${PYTHON}" -c "${script}" "${site}"
    WORKING_DIRECTORY "${PREFIX}"
    RESULT_VARIABLE status)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "importing the installed package failed: ${status}")
endif()
