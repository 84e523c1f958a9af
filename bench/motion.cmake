find_package(orocos_kdl REQUIRED)
arm_add_bench(motion_bench SOURCES ${CMAKE_CURRENT_LIST_DIR}/motion_bench.cpp LIBS ${orocos_kdl_LIBRARIES})
target_include_directories(motion_bench PRIVATE ${orocos_kdl_INCLUDE_DIRS} ${PROJECT_SOURCE_DIR}/tests/support)
target_compile_options(motion_bench PRIVATE -Wno-mismatched-new-delete)
