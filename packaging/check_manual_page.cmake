# cmake -DMAN=man -DPAGE=file.1 -P check_manual_page.cmake
# Formats a manual page as man does for a terminal and fails on any warning.
set(ENV{MANWIDTH} 80)
set(ENV{LC_ALL} C.UTF-8)
execute_process(COMMAND ${MAN} --warnings -l ${PAGE}
  OUTPUT_QUIET ERROR_VARIABLE warnings RESULT_VARIABLE status)
if(NOT status EQUAL 0 OR NOT warnings STREQUAL "")
  message(FATAL_ERROR "man --warnings -l ${PAGE} (status ${status}):\n${warnings}")
endif()
