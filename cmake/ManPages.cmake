# One manual page per installed program, share/man/man1/NAME.1, so that
# `man NAME` works after installation. Made with help2man from the program's
# --help (status 0 on standard output); dravik answers --help with its usage
# and status 255, so its page is written by hand (docs/man/dravik.1).
find_program(HELP2MAN help2man)
if(NOT HELP2MAN)
  message(WARNING "help2man not found (Debian: help2man): no manual pages are made")
  install(FILES ${PROJECT_SOURCE_DIR}/docs/man/dravik.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  return()
endif()

set(_man_dir ${PROJECT_BINARY_DIR}/man/man1)
file(MAKE_DIRECTORY ${_man_dir})
set(_man_pages)

# vesk_man_page(NAME RUN DESCRIPTION [DEPENDS target]): RUN is the program
# or script help2man runs.
function(vesk_man_page name run description)
  set(page ${_man_dir}/${name}.1)
  add_custom_command(OUTPUT ${page}
    COMMAND ${HELP2MAN} --no-info --no-discard-stderr --version-string=${PROJECT_VERSION}
            --name=${description} --output=${page} ${run}
    DEPENDS ${ARGN}
    COMMENT "manual page ${name}.1" VERBATIM)
  set(_man_pages ${_man_pages} ${page} PARENT_SCOPE)
endfunction()

set(_programs
  "trelvix|configuration templates and transfer functions of a microphone array"
  "tspgen|writes a TSP origin and the wave to play for a measurement"
  "measim|simulates the recordings or impulse responses of a measurement"
  "tfcheck|checks a transfer-function file or TSP recordings against their geometry"
  "veskdump|prints a configuration or transfer-function file as JSON"
  "vesk2sofa|converts a transfer-function file or impulse-response list to SOFA"
  "sofa2vesk|converts a SOFA file to an impulse-response list and array file"
  "tflocate|localises the sources of a recording with a transfer-function file"
  "tfinterp|interpolates transfer functions between the measured directions"
  "tsprec|plays the TSP and records the array for each source of a TSP list")
foreach(_entry IN LISTS _programs)
  string(REPLACE "|" ";" _pair "${_entry}")
  list(GET _pair 0 _name)
  list(GET _pair 1 _description)
  if(TARGET ${_name})
    # The program's name in the page is its installed name, not a build path.
    vesk_man_page(${_name} $<TARGET_FILE:${_name}> "${_description}" ${_name})
  endif()
endforeach()
foreach(_script
    "vesk-plot-tf|tools/plots/plot_tf.py|draws an array, its sources and transfer functions as PNG"
    "vesk-plot-tfcheck|tools/plots/plot_tfcheck.py|draws the figures of a tfcheck report as PNG"
    "vesk-plot-tflocate|tools/plots/plot_tflocate.py|draws the figures of a tflocate report as PNG")
  string(REPLACE "|" ";" _triple "${_script}")
  list(GET _triple 0 _name)
  list(GET _triple 1 _path)
  list(GET _triple 2 _description)
  # Run under its installed name, which the page then bears; the link keeps
  # the script finding the reader beside its real location.
  file(MAKE_DIRECTORY ${PROJECT_BINARY_DIR}/man/bin)
  file(CREATE_LINK ${PROJECT_SOURCE_DIR}/${_path} ${PROJECT_BINARY_DIR}/man/bin/${_name} SYMBOLIC)
  vesk_man_page(${_name} ${PROJECT_BINARY_DIR}/man/bin/${_name} "${_description}" ${PROJECT_SOURCE_DIR}/${_path})
endforeach()

add_custom_target(man_pages ALL DEPENDS ${_man_pages})
install(FILES ${_man_pages} ${PROJECT_SOURCE_DIR}/docs/man/dravik.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
