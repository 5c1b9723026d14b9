if(TARGET lumetrove_captureui)
  find_package(Qt6 REQUIRED COMPONENTS Core Gui Widgets Concurrent DBus)
  lumetrove_benchmark(capture_wayland lumetrove_capture lumetrove_captureui lumetrove_library
                      lumetrove_text_recognition Qt6::DBus)
  target_compile_definitions(bench_capture_wayland PRIVATE
    LUMETROVE_WAYLAND_DESKTOP="${Lumetrove_SOURCE_DIR}/scripts/wayland-desktop")
  set_target_properties(bench_capture_wayland PROPERTIES AUTOMOC ON)
endif()
