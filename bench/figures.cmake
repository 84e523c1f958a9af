# Whole-process figures of arm_controller: helpers driven by process_figures.sh.
add_executable(figures_stream_client ${CMAKE_CURRENT_LIST_DIR}/figures_stream_client.cpp)
target_link_libraries(figures_stream_client PRIVATE arm_server)
add_executable(figures_mover ${CMAKE_CURRENT_LIST_DIR}/figures_mover.cpp)
target_link_libraries(figures_mover PRIVATE arm_ros)
# A plain DDS participant per movj, with the DDS types our own ROS 2 layer
# generates (a real ROS 2 build has no plain C types to offer).
if(TARGET ros2_compat)
  find_package(CycloneDDS REQUIRED)
  target_include_directories(figures_mover PRIVATE ${PROJECT_BINARY_DIR}/ros2_compat/generated)
  target_link_libraries(figures_mover PRIVATE CycloneDDS::ddsc)
  target_compile_definitions(figures_mover PRIVATE FIGURES_FRESH_PARTICIPANT)
endif()
# LD_PRELOAD into a process under measurement: glibc heap totals over time.
add_library(figures_malloc_stats MODULE ${CMAKE_CURRENT_LIST_DIR}/figures_malloc_stats.c)
target_link_libraries(figures_malloc_stats PRIVATE Threads::Threads)
# Needs the test support library (child processes, a private DDS domain).
if(TARGET arm_test_support)
  arm_add_bench(figures_latency_bench SOURCES ${CMAKE_CURRENT_LIST_DIR}/figures_latency.cpp
                LIBS arm_server arm_ros arm_build_config servo_sim arm_test_support)
endif()
