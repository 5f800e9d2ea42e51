# Installs the built library into a scratch prefix, then configures, builds
# and runs a tiny host project that finds it with find_package(mcreg).
file(REMOVE_RECURSE ${WORK})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BIN} --prefix ${WORK}/prefix
                RESULT_VARIABLE rc OUTPUT_QUIET)
if(rc)
  message(FATAL_ERROR "install failed: ${rc}")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} -S ${SRC} -B ${WORK}/build -G Ninja
                "-DCMAKE_PREFIX_PATH=${WORK}/prefix" "-DCMAKE_CXX_FLAGS=${FLAGS}"
                "-DCMAKE_EXE_LINKER_FLAGS=${LDFLAGS}" RESULT_VARIABLE rc)
if(rc)
  message(FATAL_ERROR "configuring the host failed: ${rc}")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} --build ${WORK}/build RESULT_VARIABLE rc)
if(rc)
  message(FATAL_ERROR "building the host failed: ${rc}")
endif()
execute_process(COMMAND ${WORK}/build/host_check RESULT_VARIABLE rc)
if(rc)
  message(FATAL_ERROR "the host failed: ${rc}")
endif()

# The Python package lands under the prefix too (an install into a scratch
# prefix writes nothing elsewhere) and imports from there, finding the
# prefix's libmcreg.so.
if(PYTHON)
  set(pkg ${WORK}/prefix/${PYDIR})
  execute_process(
    COMMAND ${CMAKE_COMMAND} -E env PYTHONPATH=${pkg} ${PYTHON} -c
            "import mcreg, sys; d = {'x': [1.0, 2.0, 3.0, 4.0], 'y': [1.0, 3.0, 2.0, 5.0]}; r = mcreg.glm('y ~ x', d); sys.exit(0 if mcreg.__file__.startswith('${pkg}') and abs(r.params['estimate']['x'] - 1.1) < 1e-12 else 1)"
    RESULT_VARIABLE rc)
  if(rc)
    message(FATAL_ERROR "the installed Python package failed: ${rc}")
  endif()
endif()
