arm_add_bench(sim_reply_timing_bench SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/sim_reply_timing_bench.cpp LIBS servo_sim)
