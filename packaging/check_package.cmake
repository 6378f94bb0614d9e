# cmake -DCPACK=cpack -DLINTIAN=lintian -DCONFIG=CPackConfig.cmake -DOUT=dir -P check_package.cmake
# Builds the Debian package of this build tree into OUT and has lintian check
# it: any error fails, warnings are shown.
file(REMOVE_RECURSE ${OUT})
execute_process(COMMAND ${CPACK} --config ${CONFIG} -G DEB -B ${OUT}
  OUTPUT_VARIABLE output ERROR_VARIABLE output RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "cpack failed:\n${output}")
endif()
file(GLOB packages ${OUT}/*.deb)
execute_process(COMMAND ${LINTIAN} --fail-on error ${packages} RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "lintian found errors in ${packages}")
endif()
