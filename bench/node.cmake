# Needs the test support library (simulated motor, child processes, DDS domains).
if(TARGET arm_test_support)
  arm_add_bench(node_bench SOURCES node_latency.cpp LIBS arm_cmd_node arm_startup arm_test_support)
endif()
