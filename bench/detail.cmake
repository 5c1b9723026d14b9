if(TARGET lumetrove_detail)
  # Imported Qt targets are seen only where Qt was found.
  find_package(Qt6 REQUIRED COMPONENTS Widgets Concurrent)
  lumetrove_benchmark(detail lumetrove_detail lumetrove_text_recognition)
endif()
