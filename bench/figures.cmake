# Whole-process figures of arm_controller: helpers driven by process_figures.sh.
add_executable(figures_stream_client ${CMAKE_CURRENT_LIST_DIR}/figures_stream_client.cpp)
target_link_libraries(figures_stream_client PRIVATE arm_server)
add_executable(figures_mover ${CMAKE_CURRENT_LIST_DIR}/figures_mover.cpp)
target_link_libraries(figures_mover PRIVATE arm_ros)
# Needs the test support library (child processes, a private DDS domain).
if(TARGET arm_test_support)
  arm_add_bench(figures_latency_bench SOURCES ${CMAKE_CURRENT_LIST_DIR}/figures_latency.cpp
                LIBS arm_server arm_ros arm_build_config servo_sim arm_test_support)
endif()
