if(TARGET lumetrove_platform)
  find_package(Qt6 REQUIRED COMPONENTS Core Gui Widgets Concurrent)
  lumetrove_benchmark(ocr lumetrove_text_recognition Qt6::Widgets)
endif()
