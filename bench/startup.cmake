# Cold start and idle memory of the program; it starts its own private desktop (Xvfb, openbox, trayer).
if(TARGET lumetrove_app)
  find_package(PkgConfig REQUIRED)
  pkg_check_modules(STARTUP_XCB REQUIRED IMPORTED_TARGET xcb)
  lumetrove_benchmark(startup lumetrove_app PkgConfig::STARTUP_XCB Qt6::Widgets)
  # The yardstick: a trivial tray program that links Qt Widgets and nothing of ours. Not named bench_*, as it
  # is no benchmark of its own.
  add_executable(trivial_tray trivial_tray.cpp)
  target_link_libraries(trivial_tray PRIVATE Qt6::Widgets)
  target_compile_definitions(bench_startup PRIVATE TRIVIAL_TRAY_PROGRAM="$<TARGET_FILE:trivial_tray>"
                                                   LUMETROVE_PROGRAM="$<TARGET_FILE:lumetrove>"
    LUMETROVE_TEXT_RECOGNITION_HELPER="$<TARGET_FILE:lumetrove-recognize-text>")
  add_dependencies(bench_startup trivial_tray lumetrove)
endif()
