# Installs the veskio2 component of BUILD_DIR into a scratch prefix, then
# configures, builds and runs the consumer project against it.
file(REMOVE_RECURSE "${WORK_DIR}")
set(_prefix "${WORK_DIR}/prefix")

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE _rc OUTPUT_VARIABLE _out ERROR_VARIABLE _err)
  if(NOT _rc EQUAL 0)
    message(FATAL_ERROR "failed (${_rc}): ${ARGN}\n${_out}\n${_err}")
  endif()
  set(RUN_OUTPUT "${_out}" PARENT_SCOPE)
endfunction()

run(${CMAKE_COMMAND} --install "${BUILD_DIR}" --component veskio2 --prefix "${_prefix}")
foreach(_expected include/veskio2/Vesk.h include/veskio2/VeskConfig.h include/veskio2/Common.h)
  if(NOT EXISTS "${_prefix}/${_expected}")
    message(FATAL_ERROR "not installed: ${_expected}")
  endif()
endforeach()
file(GLOB _config "${_prefix}/lib*/cmake/veskio2/veskio2Config.cmake")
if(NOT _config)
  message(FATAL_ERROR "no veskio2Config.cmake under ${_prefix}")
endif()

run(${CMAKE_COMMAND} -S "${CONSUMER_DIR}" -B "${WORK_DIR}/build"
  "-DCMAKE_PREFIX_PATH=${_prefix}" "-DCMAKE_CXX_FLAGS=${CONSUMER_FLAGS}"
  "-DCMAKE_EXE_LINKER_FLAGS=${CONSUMER_FLAGS}")
run(${CMAKE_COMMAND} --build "${WORK_DIR}/build")
run("${WORK_DIR}/build/consumer" "${WORK_DIR}")
if(NOT RUN_OUTPUT STREQUAL "MicArrayLocationFile 2.0 with 1 mic; vgtf::Fmt with 4 mics\n")
  message(FATAL_ERROR "unexpected consumer output: ${RUN_OUTPUT}")
endif()
