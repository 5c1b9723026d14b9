if(TARGET lumetrove_platform)
  lumetrove_benchmark(ocr lumetrove_platform)
endif()
