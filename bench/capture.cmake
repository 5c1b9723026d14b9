if(TARGET lumetrove_captureui)
  find_package(Qt6 REQUIRED COMPONENTS Core Gui Widgets Concurrent)
  lumetrove_benchmark(capture lumetrove_capture lumetrove_captureui lumetrove_library)
endif()
