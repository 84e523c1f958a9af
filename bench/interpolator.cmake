arm_add_bench(interpolator_bench SOURCES ${CMAKE_CURRENT_LIST_DIR}/interpolator_bench.cpp LIBS arm_motion arm_startup arm_ros)
