if(TARGET flowlayout)
  find_package(Qt6 REQUIRED COMPONENTS Widgets)
  lumetrove_benchmark(flowlayout flowlayout)
endif()
