if(TARGET lumetrove_platform)
  find_package(Qt6 REQUIRED COMPONENTS Core Gui Widgets Concurrent)
  lumetrove_benchmark(ocr lumetrove_platform Qt6::Widgets)
endif()
