# Configures the consumer project with the checkout added as a subdirectory, then compiles its one source.
file(REMOVE_RECURSE ${SCRATCH})
execute_process(
  COMMAND ${CMAKE_COMMAND} -S ${CONSUMER} -B ${SCRATCH} -G ${GENERATOR} -DCMAKE_CXX_COMPILER=${CXX}
          -DLUMETROVE_CHECKOUT=${CHECKOUT} -DLUMETROVE_APP=OFF
  RESULT_VARIABLE configured)
if(NOT configured EQUAL 0)
  message(FATAL_ERROR "The consumer project does not configure with the checkout added as a subdirectory.")
endif()
# The object file alone: the libraries themselves need not be built to show that their headers are found.
execute_process(COMMAND ${CMAKE_COMMAND} --build ${SCRATCH} --target consumer_object RESULT_VARIABLE built)
if(NOT built EQUAL 0)
  message(FATAL_ERROR "The consumer's source does not compile against the libraries' headers.")
endif()
