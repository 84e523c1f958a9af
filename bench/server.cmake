arm_add_bench(server_bench SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/server_bench.cpp LIBS arm_server arm_startup arm_ros)
