if(TARGET lumetrove_capture)
  find_package(Qt6 REQUIRED COMPONENTS Core Gui Widgets Concurrent)
  lumetrove_benchmark(capture lumetrove_capture lumetrove_library)
endif()
