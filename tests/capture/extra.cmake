# --capture-info is the harness's; the capture suite reads its summaries.
if(TARGET test_capture)
  target_link_libraries(test_capture PRIVATE trackhost_lib)
endif()
