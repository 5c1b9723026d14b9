if(TARGET lumetrove_captureui)
  find_package(Qt6 REQUIRED COMPONENTS Core Gui Widgets Concurrent)
  find_package(PkgConfig REQUIRED)
  pkg_check_modules(BENCH_XCB REQUIRED IMPORTED_TARGET xcb)
  lumetrove_benchmark(capture lumetrove_capture lumetrove_captureui lumetrove_library lumetrove_text_recognition
                      PkgConfig::BENCH_XCB)
  # The memory benchmark recognises text in the built helper, as the program does.
  target_compile_definitions(bench_capture PRIVATE
    LUMETROVE_TEXT_RECOGNITION_HELPER="$<TARGET_FILE:lumetrove-recognize-text>")
  add_dependencies(bench_capture lumetrove-recognize-text)
endif()
