# An import of 500 files handed to the main window, beside the same files stored by one thread.
if(TARGET lumetrove_app)
  lumetrove_benchmark(import lumetrove_app Qt6::Widgets)
endif()
