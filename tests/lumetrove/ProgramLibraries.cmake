# Fails when the program names the text-recognition engine among the libraries it loads, or when its helper,
# which alone should, does not: the engine and its libraries belong in the helper processes only.
#   cmake -DREADELF=<readelf> -DPROGRAM=<program> -DHELPER=<helper> -P ProgramLibraries.cmake
function(needed_libraries file out)
  execute_process(COMMAND ${READELF} -d ${file} OUTPUT_VARIABLE section RESULT_VARIABLE read)
  if(NOT read EQUAL 0)
    message(FATAL_ERROR "${READELF} could not read ${file}")
  endif()
  string(REGEX MATCHALL "Shared library: \\[[^]]+\\]" entries "${section}")
  set(${out} "${entries}" PARENT_SCOPE)
endfunction()

needed_libraries(${PROGRAM} program)
needed_libraries(${HELPER} helper)
foreach(engine libtesseract liblept)
  if(program MATCHES "${engine}")
    message(FATAL_ERROR "The program loads ${engine}: ${program}")
  endif()
endforeach()
if(NOT helper MATCHES "libtesseract")
  message(FATAL_ERROR "The helper does not load libtesseract: ${helper}")
endif()
