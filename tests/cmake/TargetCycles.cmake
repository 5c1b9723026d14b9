# Fails when the project's targets link each other in a cycle. Libraries link only downwards; a cycle builds
# with static libraries all the same, so nothing but this check notices one.
#   cmake -DCHECKOUT=<source> -DSCRATCH=<scratch dir> [-DGENERATOR=<gen>] -P TargetCycles.cmake
# configures the checkout afresh in SCRATCH, without tests or benchmarks, and reads its target graph;
#   cmake -DBUILD=<build dir> -P TargetCycles.cmake
# reads the graph of an existing build instead (that re-runs its configure step).
if(BUILD)
  set(graph_dir ${BUILD}/target-graph)
  file(REMOVE_RECURSE ${graph_dir})
  file(MAKE_DIRECTORY ${graph_dir})
  file(WRITE ${BUILD}/CMakeGraphVizOptions.cmake
       "set(GRAPHVIZ_GENERATE_PER_TARGET FALSE)\nset(GRAPHVIZ_GENERATE_DEPENDERS FALSE)\n")
  execute_process(COMMAND ${CMAKE_COMMAND} --graphviz=${graph_dir}/targets.dot ${BUILD} RESULT_VARIABLE configured
                  OUTPUT_QUIET)
else()
  file(REMOVE_RECURSE ${SCRATCH})
  file(MAKE_DIRECTORY ${SCRATCH})
  file(WRITE ${SCRATCH}/CMakeGraphVizOptions.cmake
       "set(GRAPHVIZ_GENERATE_PER_TARGET FALSE)\nset(GRAPHVIZ_GENERATE_DEPENDERS FALSE)\n")
  set(generator)
  if(GENERATOR)
    set(generator -G ${GENERATOR})
  endif()
  set(graph_dir ${SCRATCH})
  execute_process(COMMAND ${CMAKE_COMMAND} -S ${CHECKOUT} -B ${SCRATCH} ${generator} -DLUMETROVE_TESTS=OFF
                          -DLUMETROVE_BENCH=OFF --graphviz=${graph_dir}/targets.dot
                  RESULT_VARIABLE configured OUTPUT_QUIET)
endif()
if(NOT configured EQUAL 0 OR NOT EXISTS ${graph_dir}/targets.dot)
  message(FATAL_ERROR "The project did not configure, so its target graph could not be read.")
endif()

# Nodes are written as `"node3" [ label = "lumetrove_app" ... ]`, links as `"node3" -> "node5" ...`.
file(STRINGS ${graph_dir}/targets.dot lines)
set(pairs "")
set(links 0)
foreach(line IN LISTS lines)
  if(line MATCHES "^[ \t]*\"(node[0-9]+)\" \\[ label = \"([^\"]+)\"")
    set(label_${CMAKE_MATCH_1} ${CMAKE_MATCH_2})
  elseif(line MATCHES "^[ \t]*\"(node[0-9]+)\" -> \"(node[0-9]+)\"")
    string(APPEND pairs "${CMAKE_MATCH_1} ${CMAKE_MATCH_2}\n")
    math(EXPR links "${links} + 1")
  endif()
endforeach()
if(links LESS 10)
  message(FATAL_ERROR "The target graph holds ${links} links: it was not read as expected.")
endif()

# tsort orders the links and names the members of any loop it meets.
file(WRITE ${graph_dir}/links.txt "${pairs}")
execute_process(COMMAND tsort ${graph_dir}/links.txt RESULT_VARIABLE sorted OUTPUT_QUIET ERROR_VARIABLE loops)
if(NOT sorted EQUAL 0)
  string(REGEX MATCHALL "node[0-9]+" members "${loops}")
  set(names "")
  foreach(member IN LISTS members)
    list(APPEND names ${label_${member}})
  endforeach()
  list(REMOVE_DUPLICATES names)
  list(JOIN names ", " names)
  message(FATAL_ERROR "The targets link each other in a cycle: ${names}")
endif()
message(STATUS "No cycle among ${links} links between targets.")
