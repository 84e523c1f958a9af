# Whole-process figures of arm_controller: helpers driven by process_figures.sh.
add_executable(figures_stream_client ${CMAKE_CURRENT_LIST_DIR}/figures_stream_client.cpp)
target_link_libraries(figures_stream_client PRIVATE arm_core)
add_executable(figures_mover ${CMAKE_CURRENT_LIST_DIR}/figures_mover.cpp)
target_link_libraries(figures_mover PRIVATE arm_core)
# A plain DDS participant per movj needs the test peer's own types.
if(TARGET ros2_compat_peer_types)
  target_link_libraries(figures_mover PRIVATE ros2_compat_peer_types)
  target_compile_definitions(figures_mover PRIVATE FIGURES_FRESH_PARTICIPANT)
endif()
# LD_PRELOAD into a process under measurement: glibc heap totals over time.
add_library(figures_malloc_stats MODULE ${CMAKE_CURRENT_LIST_DIR}/figures_malloc_stats.c)
target_link_libraries(figures_malloc_stats PRIVATE Threads::Threads)
# Needs the test support library (child processes, a private DDS domain).
if(TARGET arm_test_support)
  arm_add_bench(figures_latency_bench SOURCES ${CMAKE_CURRENT_LIST_DIR}/figures_latency.cpp
                LIBS servo_sim arm_test_support)
endif()
