arm_add_bench(interpolator_bench SOURCES ${CMAKE_CURRENT_LIST_DIR}/interpolator_bench.cpp)
