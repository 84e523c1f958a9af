# Needs the test support library for a private DDS domain.
if(TARGET arm_test_support AND TARGET ros2_compat)
  arm_add_bench(ros2_compat_bench SOURCES ${CMAKE_CURRENT_LIST_DIR}/ros2_compat_bench.cpp LIBS ros2_compat arm_test_support)
endif()
