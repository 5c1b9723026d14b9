# Cold start and idle memory of the program; it starts its own private desktop (Xvfb, openbox, trayer).
if(TARGET lumetrove_app)
  find_package(PkgConfig REQUIRED)
  pkg_check_modules(STARTUP_XCB REQUIRED IMPORTED_TARGET xcb)
  lumetrove_benchmark(startup lumetrove_app PkgConfig::STARTUP_XCB Qt6::Widgets)
endif()
