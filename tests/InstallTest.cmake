# Installs BUILD_DIR into a scratch prefix and uses the installed tree as a
# user would: the programs start without LD_LIBRARY_PATH, the installed
# trelvix makes a transfer-function file, the example consumer is built
# against the installed library with find_package(veskio2) and reads that
# file, and (with PYTHON) the installed Python reader reads the same value
# and the installed plot command starts.
file(REMOVE_RECURSE "${WORK_DIR}")
set(_prefix "${WORK_DIR}/prefix")
set(_data "${WORK_DIR}/data")
file(MAKE_DIRECTORY "${_data}")

# run(<command...>): fails the test unless the command ends with status 0;
# RUN_OUTPUT holds its standard output. No LD_LIBRARY_PATH and no
# PYTHONPATH reach the command.
function(run)
  execute_process(COMMAND ${CMAKE_COMMAND} -E env --unset=LD_LIBRARY_PATH --unset=PYTHONPATH ${ARGN}
    WORKING_DIRECTORY "${_data}" RESULT_VARIABLE _rc OUTPUT_VARIABLE _out ERROR_VARIABLE _err)
  if(NOT _rc EQUAL 0)
    message(FATAL_ERROR "failed (${_rc}): ${ARGN}\n${_out}\n${_err}")
  endif()
  set(RUN_OUTPUT "${_out}" PARENT_SCOPE)
endfunction()

run(${CMAKE_COMMAND} --install "${BUILD_DIR}" --prefix "${_prefix}")
foreach(_expected include/veskio2/Vesk.h include/veskio2/VeskConfig.h include/veskio2/Common.h
                  bin/trelvix bin/dravik bin/veskdump bin/tspgen bin/measim bin/vesk-plot-tf
                  lib/python3/dist-packages/veskio2py/__init__.py)
  if(NOT EXISTS "${_prefix}/${_expected}")
    message(FATAL_ERROR "not installed: ${_expected}")
  endif()
endforeach()
file(GLOB _config "${_prefix}/lib*/cmake/veskio2/veskio2Config.cmake")
if(NOT _config)
  message(FATAL_ERROR "no veskio2Config.cmake under ${_prefix}")
endif()

set(_bin "${_prefix}/bin")
# Every installed program answers --help with status 0 (dravik, whose usage
# ends with 255, excepted) and has a manual page that man can render.
file(GLOB _programs RELATIVE "${_bin}" "${_bin}/*")
foreach(_program IN LISTS _programs)
  set(_page "${_prefix}/share/man/man1/${_program}.1")
  if(NOT EXISTS "${_page}")
    message(FATAL_ERROR "no manual page for ${_program}: ${_page}")
  endif()
  file(STRINGS "${_page}" _th REGEX "^\\.TH ")
  if(NOT _th)
    message(FATAL_ERROR "${_page} has no .TH line")
  endif()
  if(NOT _program STREQUAL "dravik")
    run("${_bin}/${_program}" --help)
    if(RUN_OUTPUT STREQUAL "")
      message(FATAL_ERROR "${_program} --help printed nothing on standard output")
    endif()
  endif()
endforeach()
# dravik has no help that ends with status 0; a program that cannot load
# its libraries ends with 127 and says so.
execute_process(COMMAND ${CMAKE_COMMAND} -E env --unset=LD_LIBRARY_PATH "${_bin}/dravik" -v
  RESULT_VARIABLE _rc OUTPUT_VARIABLE _out ERROR_VARIABLE _err)
if(_rc EQUAL 127 OR _err MATCHES "shared librar")
  message(FATAL_ERROR "installed dravik does not start (${_rc}): ${_err}")
endif()

# A small geometric transfer-function file made by the installed programs.
set(_sources 4)
set(_mics 6)
set(_nfft 64)
run("${_bin}/trelvix" -m template -t mic --nummic ${_mics} --numazi ${_mics} --aziint 60 --radius 0.05
    -o mic.xml)
run("${_bin}/trelvix" -m template -t tsp --nummic ${_mics} --numazi ${_sources} --aziint 90 --radius 1
    -o tsp.xml)
run("${_bin}/trelvix" -m tf -t gtf --geometry-calculus 1 --nfft ${_nfft} -o tf.bin mic.xml tsp.xml)
run("${_bin}/veskdump" mic.xml)

# The example consumer, built against the installed library.
run(${CMAKE_COMMAND} -S "${CONSUMER_DIR}" -B "${WORK_DIR}/consumer"
  "-DCMAKE_PREFIX_PATH=${_prefix}" "-DCMAKE_CXX_FLAGS=${CONSUMER_FLAGS}"
  "-DCMAKE_EXE_LINKER_FLAGS=${CONSUMER_FLAGS}")
run(${CMAKE_COMMAND} --build "${WORK_DIR}/consumer")
set(_src 3)
set(_mic 5)
set(_bin_index 7)
run("${WORK_DIR}/consumer/read_tf" tf.bin ${_src} ${_mic} ${_bin_index})
set(_consumer "${RUN_OUTPUT}")
math(EXPR _bins "${_nfft} / 2 + 1")
set(_shape "vgtf::GTF: tf ${_sources} sources x ${_mics} mics x ${_bins} bins\n")
string(FIND "${_consumer}" "${_shape}" _at)
if(_at EQUAL -1)
  message(FATAL_ERROR "the consumer did not print \"${_shape}\":\n${_consumer}")
endif()

if(PYTHON)
  # The installed Python reader must read the value the C++ reader printed.
  set(_check [=[
import re, sys
import numpy as np
import veskio2py
src, mic, k, printed = int(sys.argv[1]), int(sys.argv[2]), int(sys.argv[3]), sys.argv[4]
m = re.search(r"tf\[%d\]\[%d\]\[%d\] = (\S+) ([+-]) (\S+)i" % (src, mic, k), printed)
if not m:
    sys.exit("no value line in the consumer's output:\n" + printed)
re_, im = np.float32(m.group(1)), np.float32(m.group(3)) * (1 if m.group(2) == "+" else -1)
want = veskio2py.read_tf("tf.bin").tf[src, mic, k]
if (re_, im) != (want.real, want.imag):
    sys.exit(f"the consumer printed {re_} {im}, the Python reader reads {want}")
]=])
  run(${CMAKE_COMMAND} -E env "PYTHONPATH=${_prefix}/lib/python3/dist-packages"
      "${PYTHON}" -c "${_check}" ${_src} ${_mic} ${_bin_index} "${_consumer}")
  run("${PYTHON}" "${_bin}/vesk-plot-tf" --mic mic.xml --list tsp.xml --tf tf.bin --out-dir plots)
  if(NOT EXISTS "${_data}/plots/array.png")
    message(FATAL_ERROR "the installed plot command wrote no plots/array.png")
  endif()
endif()
